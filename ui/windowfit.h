#pragma once

#include <QSize>

// The main window's sizes on a screen: it and its frame (title bar, borders, which the window
// manager adds and which are not known before the window is shown) stay inside the screen's
// available area, a 1280x800 or 1366x768 laptop screen included.
struct WindowFit
{
    QSize minimum;            // 1100x700 where that fits
    QSize size;               // 1280x800 where that fits, else what does
    bool maximized = false;   // the full size does not fit: the window manager fits it, frame and all
};

// Room left for the frame.
inline constexpr QSize kWindowFrameAllowance(16, 40);

WindowFit fitWindowTo(const QSize &available);

// The canvas's fit area (the view less its margin) in a window of that size, before the window
// is laid out: the file list, the object panel and the bars around the canvas taken off. A guess
// for decoding the first image while the window is built; the area laid out decides whether those
// pixels serve.
QSize expectedFitArea(const QSize &window, int fileListWidth);
