#pragma once

#include <QObject>
#include <QRect>

#include <functional>

class QTimer;
class QWidget;

// Timing milestones of the window's answer to one key or mouse press, for the window benchmark:
// "input ..." when the press reaches the window, then "input settled <state>" stamped with the
// end of the last repaint it caused (every widget of the window, panels included), once 50 ms
// have gone by without another one, with the GUI thread's CPU time spent meanwhile ("cpu="). Also "canvas x y w h" (global) whenever the canvas first
// paints at a new place. Created only while timing is on.
class InputTimingProbe : public QObject
{
public:
    InputTimingProbe(QWidget *window, QWidget *canvas, std::function<QString()> state, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool inWindow(QObject *object) const;
    void afterPaint();
    void quietPass();

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
    QRect m_canvasLogged;
};
