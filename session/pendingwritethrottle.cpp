#include "session/pendingwritethrottle.h"

#include <QTimer>

PendingWriteThrottle::PendingWriteThrottle(QObject *parent, int intervalMs)
    : QObject(parent)
    , m_timer(new QTimer(this))
    , m_intervalMs(intervalMs)
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &PendingWriteThrottle::flush);
}

void PendingWriteThrottle::markChanged()
{
    m_dirty = true;
    if (m_timer->isActive())
        return;
    const qint64 wait = m_sinceWrite.isValid() ? m_intervalMs - m_sinceWrite.elapsed() : 0;
    m_timer->start(int(qBound(qint64(0), wait, qint64(m_intervalMs))));
}

void PendingWriteThrottle::flush()
{
    m_timer->stop();
    if (!m_dirty)
        return;
    m_dirty = false;
    m_sinceWrite.restart();
    emit writeRequested();
}
