#pragma once

#include "storage/annotation.h"
#include "storage/filestamp.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QUndoGroup;
class QUndoStack;

// The undo history of each image visited while a folder is open: stepping away puts the image's
// stack aside with the shapes it ended on and the stamps of the image's label files; coming back
// takes it up again, unless the files or the records changed meanwhile (another program, a
// conversion, a model run), when stale states must not be applied and the history starts anew.
// The undo and redo actions follow the active stack through the group.
class ImageHistories : public QObject
{
    Q_OBJECT

public:
    // The images whose histories are kept besides the one on screen; older ones are dropped.
    static constexpr int kKeptImages = 50;

    explicit ImageHistories(QObject *parent = nullptr);

    QUndoGroup *group() const { return m_group; }
    QUndoStack *active() const { return m_active; }

    // Puts the active stack aside for path; shown: the shapes on screen, with their ids.
    void keep(const QString &path, const QList<Annotation> &shown);
    // Makes path's kept stack active when its files and records are as they were left, and returns
    // the shapes it ended on (the ids its steps name); otherwise a new, empty stack is active.
    std::optional<QList<Annotation>> resume(const QString &path, const QList<Annotation> &records);
    // The active stack is replaced by an empty one (its image is gone or none is shown).
    void dropActive();
    // Another folder: no history is kept.
    void forgetAll();
    int keptCount() const { return int(m_kept.size()); }

signals:
    // The active stack was replaced: whoever listens to a stack listens to this one now.
    void activeChanged(QUndoStack *stack);

private:
    struct Kept
    {
        QUndoStack *stack = nullptr;
        QList<Annotation> shown;
        QList<FileStamp> stamps;
    };
    void activate(QUndoStack *stack);
    void drop(const QString &path);

    QUndoGroup *m_group;
    QUndoStack *m_active = nullptr;
    QHash<QString, Kept> m_kept;
    QStringList m_order;   // kept paths, the least recently left first
};
