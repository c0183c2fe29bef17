#include "ui/windowfit.h"

WindowFit fitWindowTo(const QSize &available)
{
    const QSize room = (available - kWindowFrameAllowance).expandedTo(QSize(1, 1));
    const QSize wanted(1280, 800);
    WindowFit fit;
    fit.minimum = QSize(1100, 700).boundedTo(room);
    fit.size = wanted.boundedTo(room);
    fit.maximized = fit.size != wanted;
    return fit;
}

QSize expectedFitArea(const QSize &window, int fileListWidth)
{
    // The object panel (270) and the splitter's handles beside the canvas; above and below it the
    // menu bar, the toolbar and the status bar; then the view's margin of 40 on each side.
    const QSize chrome(fileListWidth + 270 + 18 + 80, 155 + 80);
    return (window - chrome).expandedTo(QSize(100, 100));
}
