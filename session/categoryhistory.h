#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

// The category names of one dataset in the order they were first used, and the one offered for
// the next shape. The order is stable: using a name again does not move it, so the rows of the
// category panel (and the keys 1-9) keep their numbers. Stored under the settings key "labels"
// whenever the list changes (unless storing is off: the command line never stores). At most fifty
// names: a newcomer pushes out the one used least recently. DatasetCategories holds the one of the
// open dataset.
class CategoryHistory : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxLabels = 50;

    CategoryHistory(const QStringList &labels, const QStringList &deleted, QObject *parent = nullptr);
    explicit CategoryHistory(const QStringList &labels, QObject *parent = nullptr);
    ~CategoryHistory() override;   // writes a change still held back

    QStringList labels() const { return m_labels; }
    // The same names, most recently used first (the label dialog's list).
    QStringList recentLabels() const { return m_recent; }
    QString lastLabel() const { return m_lastLabel; }
    void setLastLabel(const QString &label);

    // A name the user gives: appended when new (a deleted one comes back), marked as used,
    // stored. Nothing for an empty label.
    void remember(const QString &label);
    // Names met in label files and saved records: as remember, except that a category the user
    // deleted stays deleted.
    void rememberFound(const QStringList &labels);

    // Deleting a category: every occurrence goes and it is not taken from files again; the
    // offered label falls back to the first.
    void remove(const QString &label);
    // Undoing that: the category comes back at the end, unless it is there already.
    void restore(const QString &label);
    bool isDeleted(const QString &label) const { return m_deleted.contains(label); }

    // While held, changes take effect and signal at once but reach the settings only when the
    // hold ends (or the history is destroyed): a model run adds categories with every image,
    // and each write of the settings file waits for the disk.
    void holdStores(bool hold);
    void setStoring(bool storing) { m_storing = storing; }
    // Another dataset's names take the place of these (nothing is offered yet); stored and signalled.
    void reset(const QStringList &labels, const QStringList &deleted);
    QStringList deletedList() const;

signals:
    void changed();

private:
    // True when the list changed (a new name), false when only its recency did.
    bool use(const QString &label);
    // Drops the least recently used names (never keep) down to fifty.
    void trim(const QString &keep);
    void store();

    QStringList m_labels;     // first-use order
    QStringList m_recent;     // the same names, most recently used first
    QSet<QString> m_deleted;
    QString m_lastLabel;
    bool m_holding = false;
    bool m_unstored = false;
    bool m_storing = true;
};
