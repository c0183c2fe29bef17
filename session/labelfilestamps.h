#pragma once

#include "storage/filestamp.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// The label files of each image as this session last read or wrote them, to tell when another
// program (brindlemark-cli label, another tool, a script) has rewritten them since: a cached reading
// of such an image is stale, and saving over it would destroy the other program's labels. A check
// stats the image's label files, it lists no folder. With watching on, the files of the image on
// screen are also watched: currentChanged reports each new state of them (the owner compares it
// with what it read).
// Owner's thread only.
class LabelFileStamps : public QObject
{
    Q_OBJECT

public:
    explicit LabelFileStamps(QObject *parent = nullptr);

    // The image's label files as they are now, one stamp a file.
    static QList<FileStamp> stampsOf(const QString &imagePath);

    // Taken just before the files are read, or just after we wrote them.
    void remember(const QString &imagePath);
    // True when the image's label files are not as remembered (changed, appeared or vanished).
    // An image never remembered is not known to be stale.
    bool changed(const QString &imagePath) const;
    void forget(const QString &imagePath) { m_stamps.remove(imagePath); }
    void clear() { m_stamps.clear(); }

    void setWatching(bool watching);
    // The image on screen (empty: none): its label files and the folders where they appear.
    void watch(const QString &imagePath);

signals:
    void currentChanged();

private:
    void rewatch();

    QHash<QString, QList<FileStamp>> m_stamps;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settle;   // a rewrite comes as a burst of events (temporary file, rename): one look
    QString m_watched;
    QList<FileStamp> m_seen;   // the watched image's files at the last look
};
