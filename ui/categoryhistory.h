#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The category names of the window, most recently used first, and the one offered for the next
// shape. Stored under the settings key "labels" whenever the list changes.
class CategoryHistory : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxLabels = 50;

    explicit CategoryHistory(const QStringList &labels, QObject *parent = nullptr);
    ~CategoryHistory() override;   // writes a change still held back

    QStringList labels() const { return m_labels; }
    QString lastLabel() const { return m_lastLabel; }
    void setLastLabel(const QString &label);

    // Moves label to the front (once), keeps the first fifty, stores. Nothing for an empty label.
    void remember(const QString &label);
    // remember for each label in order, stored once.
    void rememberAll(const QStringList &labels);

    // Deleting a category: every occurrence goes; the offered label falls back to the first.
    void remove(const QString &label);
    // Undoing that: the category comes back at the end, unless it is there already.
    void restore(const QString &label);

    // While held, changes take effect and signal at once but reach the settings only when the
    // hold ends (or the history is destroyed): a model run reorders the list with every image,
    // and each write of the settings file waits for the disk.
    void holdStores(bool hold);

signals:
    void changed();

private:
    bool moveToFront(const QString &label);
    void store();

    QStringList m_labels;
    QString m_lastLabel;
    bool m_holding = false;
    bool m_unstored = false;
};
