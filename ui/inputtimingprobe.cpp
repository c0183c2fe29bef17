#include "ui/inputtimingprobe.h"

#include "session/timinglog.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_LINUX
#include <ctime>
#endif

namespace {

// CPU time of the calling thread: with it a slow answer tells work from waiting for the CPU.
double threadCpuMs()
{
#ifdef Q_OS_LINUX
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0)
        return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
#endif
    return -1;
}

// How long ago the X server made an input event of that timestamp (its milliseconds on the
// monotonic clock, 32 bits); -1 when the stamp comes from elsewhere.
double msSinceServerTime(ulong timestamp)
{
#ifdef Q_OS_LINUX
    timespec now{};
    if (timestamp != 0 && clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
        const quint32 nowMs = quint32(quint64(now.tv_sec) * 1000 + quint64(now.tv_nsec) / 1000000);
        const quint32 age = nowMs - quint32(timestamp);
        if (age < 60000)
            return double(age);
    }
#endif
    return -1;
}

} // namespace

InputTimingProbe::InputTimingProbe(QWidget *window, QWidget *canvas, std::function<QString()> state, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_canvas(canvas)
    , m_state(std::move(state))
    , m_afterPaint(new QTimer(this))
    , m_quiet(new QTimer(this))
    , m_idle(new QTimer(this))
{
    // A zero timer runs once the events queued before it have been handled: the end of a
    // repaint. Layouts and labels settle in later passes, so the answer counts as complete only
    // when 50 ms have gone by without another repaint.
    m_afterPaint->setSingleShot(true);
    m_afterPaint->setInterval(0);
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(50);
    connect(m_afterPaint, &QTimer::timeout, this, &InputTimingProbe::afterPaint);
    connect(m_quiet, &QTimer::timeout, this, &InputTimingProbe::quietPass);
    m_idle->setSingleShot(true);
    m_idle->setInterval(0);
    connect(m_idle, &QTimer::timeout, this, &InputTimingProbe::idleCheck);
    qApp->installEventFilter(this);
    // Between waking up and going back to wait, the GUI thread handles event after event; a
    // long gap between two of them is work that kept every input waiting.
    // (The glib dispatcher does not say when it wakes: work starts with the first event after.)
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            noteWork();
            m_workSince = -1;
        });
    }
}

void InputTimingProbe::noteWork()
{
    // Work counts only once the window is there: building it is the launch's, timed apart.
    if (!m_window->isVisible())
        return;
    const double now = msSinceProcessStart();
    if (m_workSince >= 0 && now - m_workSince > kStallMs)
        logTimingAt(m_workSince, QStringLiteral("stall %1 ms").arg(now - m_workSince, 0, 'f', 1));
    m_workSince = now;
}

bool InputTimingProbe::inWindow(QObject *object) const
{
    return object->isWidgetType() && static_cast<QWidget *>(object)->window() == m_window;
}

bool InputTimingProbe::eventFilter(QObject *watched, QEvent *event)
{
    ++m_events;
    noteWork();
    switch (event->type()) {
    case QEvent::ShortcutOverride:   // comes first for every key press, shortcut or not
    case QEvent::MouseButtonPress: {
        auto *input = static_cast<QInputEvent *>(event);
        // One press is offered to a widget and then to its parents: log it once. Keys pressed
        // together (Ctrl, then 1) may share a timestamp: the key tells them apart.
        const int key = event->type() == QEvent::ShortcutOverride ? static_cast<QKeyEvent *>(event)->key() : -1;
        if (!event->spontaneous() || !inWindow(watched) || (input->timestamp() == m_lastTimestamp && key == m_lastKey))
            break;
        m_lastTimestamp = input->timestamp();
        m_lastKey = key;
        m_waiting = true;
        m_lastPaintDone = -1;
        m_inputCpu = threadCpuMs();
        m_quiet->stop();
        const double now = msSinceProcessStart();
        const double queued = msSinceServerTime(input->timestamp());
        const QString what = event->type() == QEvent::ShortcutOverride
            ? QStringLiteral("input key ") + QKeySequence(static_cast<QKeyEvent *>(event)->keyCombination()).toString()
            : QStringLiteral("input press");
        if (queued >= 0)
            logTimingAt(now - queued, what + QStringLiteral(" queued=%1").arg(queued, 0, 'f', 0));
        else
            logTimingAt(now, what);
        break;
    }
    case QEvent::Paint:
        if (watched == m_canvas) {
            const QRect place(m_canvas->mapToGlobal(QPoint(0, 0)), m_canvas->size());
            if (place != m_canvasLogged) {
                m_canvasLogged = place;
                logTiming(QStringLiteral("canvas %1 %2 %3 %4")
                              .arg(place.x()).arg(place.y()).arg(place.width()).arg(place.height()));
            }
        }
        if (m_waiting && inWindow(watched)) {
            m_quiet->stop();
            m_afterPaint->start();
        }
        break;
    default:
        break;
    }
    return false;
}

void InputTimingProbe::afterPaint()
{
    m_lastPaintDone = msSinceProcessStart();
    m_lastPaintCpu = threadCpuMs();
    m_quiet->start();
}

void InputTimingProbe::quietPass()
{
    if (!m_waiting || m_lastPaintDone < 0)
        return;
    m_waiting = false;
    const double cpu = m_inputCpu < 0 ? -1 : m_lastPaintCpu - m_inputCpu;
    logTimingAt(m_lastPaintDone, QStringLiteral("input settled %1 cpu=%2").arg(m_state()).arg(cpu, 0, 'f', 1));
}

void InputTimingProbe::logWhenIdle(const QString &what)
{
    // Each milestone waiting for the same idle moment gets its line.
    if (!m_idleWhat.contains(what))
        m_idleWhat.append(what);
    armIdle();
}

void InputTimingProbe::armIdle()
{
    m_eventsAtIdleArm = m_events;
    m_idle->start();
}

void InputTimingProbe::idleCheck()
{
    // The timer's own event is the one expected; anything else was pending work: look again.
    if (m_events - m_eventsAtIdleArm > 1) {
        armIdle();
        return;
    }
    for (const QString &what : std::as_const(m_idleWhat))
        logTiming(QStringLiteral("idle ") + what);
    m_idleWhat.clear();
}
