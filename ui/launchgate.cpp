#include "ui/launchgate.h"

#include "session/timinglog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

LaunchGate::LaunchGate(QObject *parent)
    : QObject(parent)
    , m_latest(new QTimer(this))
    , m_idle(new QTimer(this))
{
    m_idle->setSingleShot(true);
    m_idle->setInterval(0);
    connect(m_idle, &QTimer::timeout, this, &LaunchGate::idleCheck);
    m_latest->setSingleShot(true);
    m_latest->setInterval(kLatestMs);
    connect(m_latest, &QTimer::timeout, this, &LaunchGate::finish);
    m_latest->start();
}

void LaunchGate::whenDone(std::function<void()> task)
{
    if (m_done)
        task();
    else
        m_tasks.append(std::move(task));
}

void LaunchGate::endAfterPaintOf(QWidget *widget)
{
    if (m_done || !widget)
        return;
    if (!widget->isVisible()) {
        endWhenIdle();   // it will not be painted
        return;
    }
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = widget;
    widget->installEventFilter(this);
    widget->update();
}

void LaunchGate::endWhenIdle()
{
    if (m_done || m_idle->isActive())
        return;
    // Idle is a zero timer that fires with nothing but timers handled since it was started.
    qApp->installEventFilter(this);
    m_eventsAtArm = m_events;
    m_idle->start();
}

void LaunchGate::idleCheck()
{
    if (m_done)
        return;
    if (m_events != m_eventsAtArm) {
        m_eventsAtArm = m_events;
        m_idle->start();
        return;
    }
    qApp->removeEventFilter(this);
    QTimer::singleShot(kAfterIdleMs, this, &LaunchGate::finish);
}

bool LaunchGate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Timer)
        ++m_events;
    if (watched == m_watched && event->type() == QEvent::Paint) {
        m_watched->removeEventFilter(this);
        m_watched = nullptr;
        endWhenIdle();
    }
    return QObject::eventFilter(watched, event);
}

void LaunchGate::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_latest->stop();
    m_idle->stop();
    qApp->removeEventFilter(this);
    if (m_watched)
        m_watched->removeEventFilter(this);
    logTiming(QStringLiteral("launch done"));
    // A task may queue another (it then runs at once): take the list first.
    const QList<std::function<void()>> tasks = std::exchange(m_tasks, {});
    for (const auto &task : tasks)
        task();
    emit done();
}
