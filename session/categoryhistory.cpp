#include "session/categoryhistory.h"

#include <QSet>
#include <QSettings>

namespace {

// The keys WindowSettings reads them from.
void saveLabels(const QStringList &labels, const QStringList &deleted)
{
    QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    s.setValue(QStringLiteral("labels"), labels);
    if (deleted.isEmpty())
        s.remove(QStringLiteral("deletedLabels"));
    else
        s.setValue(QStringLiteral("deletedLabels"), deleted);
}

// The first limit distinct names. Stops there: a settings file with 100,000 stored names must
// not make the start wait (a list search per name was quadratic in the whole history).
QStringList withoutDuplicates(const QStringList &labels, qsizetype limit)
{
    QStringList unique;
    QSet<QString> seen;
    for (const QString &label : labels) {
        if (unique.size() >= limit)
            break;
        if (!label.isEmpty() && !seen.contains(label)) {
            seen.insert(label);
            unique.append(label);
        }
    }
    return unique;
}

} // namespace

CategoryHistory::CategoryHistory(const QStringList &labels, const QStringList &deleted, QObject *parent)
    : QObject(parent)
    , m_labels(withoutDuplicates(labels, kMaxLabels))
    , m_recent(m_labels)
    , m_deleted(deleted.cbegin(), deleted.cend())
{
}

CategoryHistory::CategoryHistory(const QStringList &labels, QObject *parent)
    : CategoryHistory(labels, QStringList(), parent)
{
}

CategoryHistory::~CategoryHistory()
{
    if (m_unstored && m_storing)
        saveLabels(m_labels, deletedList());
}

void CategoryHistory::setLastLabel(const QString &label)
{
    if (m_lastLabel == label)
        return;
    m_lastLabel = label;
    emit changed();
}

bool CategoryHistory::use(const QString &label)
{
    m_recent.removeAll(label);
    m_recent.prepend(label);
    if (m_labels.contains(label))
        return false;
    m_labels.append(label);
    trim(label);
    return true;
}

void CategoryHistory::trim(const QString &keep)
{
    while (m_labels.size() > kMaxLabels) {
        for (qsizetype i = m_recent.size() - 1; i >= 0; --i) {
            if (m_recent.at(i) != keep) {
                m_labels.removeAll(m_recent.takeAt(i));
                break;
            }
        }
    }
}

QStringList CategoryHistory::deletedList() const
{
    QStringList deleted(m_deleted.cbegin(), m_deleted.cend());
    deleted.sort();
    return deleted;
}

void CategoryHistory::remember(const QString &label)
{
    if (label.isEmpty())
        return;
    const bool wasDeleted = m_deleted.remove(label);
    if (use(label) || wasDeleted)
        store();
}

void CategoryHistory::rememberFound(const QStringList &labels)
{
    bool added = false;
    for (const QString &label : labels) {
        if (!label.isEmpty() && !m_deleted.contains(label))
            added = use(label) || added;
    }
    if (added)
        store();
}

void CategoryHistory::remove(const QString &label)
{
    m_labels.removeAll(label);
    m_recent.removeAll(label);
    if (!label.isEmpty())
        m_deleted.insert(label);
    if (m_lastLabel == label)
        m_lastLabel = m_labels.isEmpty() ? QString() : m_labels.first();
    store();
}

void CategoryHistory::restore(const QString &label)
{
    const bool wasDeleted = m_deleted.remove(label);
    if (label.isEmpty() || m_labels.contains(label)) {
        if (wasDeleted)
            store();
        else
            emit changed();
        return;
    }
    m_labels.append(label);
    m_recent.append(label);
    trim(label);
    store();
}

void CategoryHistory::holdStores(bool hold)
{
    m_holding = hold;
    if (!hold && m_unstored) {
        m_unstored = false;
        if (m_storing)
            saveLabels(m_labels, deletedList());
    }
}

void CategoryHistory::store()
{
    if (m_holding)
        m_unstored = true;
    else if (m_storing)
        saveLabels(m_labels, deletedList());
    emit changed();
}

void CategoryHistory::reset(const QStringList &labels, const QStringList &deleted)
{
    m_labels = withoutDuplicates(labels, kMaxLabels);
    m_recent = m_labels;
    m_deleted = QSet<QString>(deleted.cbegin(), deleted.cend());
    m_lastLabel.clear();
    store();
}
