#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QTimer;
class QWidget;

// The window's launch: what the first frame does not need (the file list's rows, the window icon,
// the model server's probe, the tray companion, settings written) waits here until the first image
// is painted and the GUI thread has nothing left to do, then runs in the order queued. Without an
// image to show, the launch ends after the window's own first paint; whatever happens, it ends
// kLatestMs after the gate was made, so nothing queued is ever lost. GUI thread only.
class LaunchGate : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLatestMs = 1500;
    // From the idle moment to the tasks: a timing probe's own idle check comes first.
    static constexpr int kAfterIdleMs = 20;

    explicit LaunchGate(QObject *parent = nullptr);

    bool isDone() const { return m_done; }
    // Runs task once the launch is done; at once when it is.
    void whenDone(std::function<void()> task);
    // The launch ends at the first idle moment after widget's next paint.
    void endAfterPaintOf(QWidget *widget);
    // The launch ends at the next idle moment (nothing will be painted for it).
    void endWhenIdle();

signals:
    void done();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void finish();

    void idleCheck();

    QList<std::function<void()>> m_tasks;
    QPointer<QWidget> m_watched;
    QTimer *m_latest;
    QTimer *m_idle;            // a zero timer: fires once the events queued before it are handled
    quint64 m_events = 0;      // events handled on the GUI thread while waiting, timers aside
    quint64 m_eventsAtArm = 0;
    bool m_done = false;
};
