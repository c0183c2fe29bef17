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

signals:
    void changed();

private:
    bool moveToFront(const QString &label);
    void store();

    QStringList m_labels;
    QString m_lastLabel;
};
