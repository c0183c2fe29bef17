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
