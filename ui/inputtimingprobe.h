#pragma once

#include <QObject>
#include <QRect>
#include <QStringList>

#include <functional>

class QTimer;
class QWidget;

// Timing milestones of the window's answer to one key or mouse press, for the window benchmarks:
// "input ..." stamped with the moment the X server made the press (so a busy GUI thread that
// reads it late is counted), with "queued=" the wait until the window saw it; then
// "input settled <state>" stamped with the
// end of the last repaint it caused (every widget of the window, panels included), once 50 ms
// have gone by without another one, with the GUI thread's CPU time spent meanwhile ("cpu="). Also "canvas x y w h" (global) whenever the canvas first
// paints at a new place. Created only while timing is on.
// "idle <what>" follows logWhenIdle: the first moment the GUI thread has nothing left to do, seen
// as a zero timer that fires with no other event handled since it was started.
// "stall <ms> ms", stamped with its start: the GUI thread spent that long on one piece of work
// (from one event to the next, or to waiting again), over 16 ms, once the window is shown.
class InputTimingProbe : public QObject
{
public:
    InputTimingProbe(QWidget *window, QWidget *canvas, std::function<QString()> state, QObject *parent = nullptr);

    void logWhenIdle(const QString &what);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool inWindow(QObject *object) const;
    void afterPaint();
    void quietPass();
    void armIdle();
    void idleCheck();
    void noteWork();

    static constexpr double kStallMs = 16.0;

    QWidget *m_window;
    QWidget *m_canvas;
    std::function<QString()> m_state;
    QTimer *m_afterPaint;
    QTimer *m_quiet;
    bool m_waiting = false;
    double m_lastPaintDone = -1;
    double m_inputCpu = -1;       // the GUI thread's CPU time at the press
    double m_lastPaintCpu = -1;   // and at the end of the last repaint
    ulong m_lastTimestamp = 0;
    int m_lastKey = -1;
    QRect m_canvasLogged;
    QTimer *m_idle;
    QStringList m_idleWhat;
    quint64 m_events = 0;          // events handled on the GUI thread
    quint64 m_eventsAtIdleArm = 0;
    double m_workSince = -1;       // start of the GUI thread's current piece of work; -1: waiting
};
