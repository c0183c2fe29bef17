#include "ui/categoryhistory.h"

#include "ui/windowsettings.h"

CategoryHistory::CategoryHistory(const QStringList &labels, QObject *parent)
    : QObject(parent)
    , m_labels(labels)
{
}

CategoryHistory::~CategoryHistory()
{
    if (m_unstored)
        WindowSettings::saveLabels(m_labels);
}

void CategoryHistory::setLastLabel(const QString &label)
{
    if (m_lastLabel == label)
        return;
    m_lastLabel = label;
    emit changed();
}

bool CategoryHistory::moveToFront(const QString &label)
{
    if (label.isEmpty())
        return false;
    if (!m_labels.isEmpty() && m_labels.first() == label && m_labels.count(label) == 1)
        return false;
    m_labels.removeAll(label);
    m_labels.prepend(label);
    while (m_labels.size() > kMaxLabels)
        m_labels.removeLast();
    return true;
}

void CategoryHistory::remember(const QString &label)
{
    if (moveToFront(label))
        store();
}

void CategoryHistory::rememberAll(const QStringList &labels)
{
    bool moved = false;
    for (const QString &label : labels)
        moved = moveToFront(label) || moved;
    if (moved)
        store();
}

void CategoryHistory::remove(const QString &label)
{
    m_labels.removeAll(label);
    if (m_lastLabel == label)
        m_lastLabel = m_labels.isEmpty() ? QString() : m_labels.first();
    store();
}

void CategoryHistory::restore(const QString &label)
{
    if (label.isEmpty() || m_labels.contains(label)) {
        emit changed();
        return;
    }
    m_labels.append(label);
    store();
}

void CategoryHistory::holdStores(bool hold)
{
    m_holding = hold;
    if (!hold && m_unstored) {
        m_unstored = false;
        WindowSettings::saveLabels(m_labels);
    }
}

void CategoryHistory::store()
{
    if (m_holding)
        m_unstored = true;
    else
        WindowSettings::saveLabels(m_labels);
    emit changed();
}
