#include "canvas/rectoutline.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <cmath>

namespace {
// The raster engine snaps device coordinates to 1/64 pixel and fills a pixel when its centre c
// lies in (edge1, edge2]; this is the first pixel whose centre lies after edge.
double snapped(double v)
{
    return std::round(v * 64) / 64;
}

int firstAfter(double edge)
{
    return int(std::floor(edge - 0.5)) + 1;
}
} // namespace

bool fillRectOutline(QPainter *painter, const QRectF &rect, const QColor &color)
{
    const QTransform &world = painter->worldTransform();
    if (!painter->paintEngine() || painter->paintEngine()->type() != QPaintEngine::Raster
        || painter->testRenderHint(QPainter::Antialiasing) || painter->viewTransformEnabled()
        || painter->device()->devicePixelRatioF() != 1.0 || world.type() > QTransform::TxScale
        || !(world.m11() > 0) || !(world.m22() > 0) || color.alpha() != 255)
        return false;
    const QRectF inner = world.mapRect(rect.normalized());
    if (!(inner.width() >= 3) || !(inner.height() >= 3))
        return false;
    // The stroke covers the rect grown by one pixel, minus the rect shrunk by one; its bevel
    // joins cut an outer corner pixel whose centre lies on or inside the cut-off triangle
    // (strictly inside on the right-hand corners, as the fill rule leans right and down).
    const double ol = snapped(inner.left() - 1), ot = snapped(inner.top() - 1);
    const double orr = snapped(inner.right() + 1), ob = snapped(inner.bottom() + 1);
    const int x0 = firstAfter(ol), x3 = firstAfter(orr);   // outer columns [x0, x3)
    const int y0 = firstAfter(ot), y3 = firstAfter(ob);    // outer rows [y0, y3)
    const int x1 = firstAfter(snapped(inner.left() + 1)), x2 = firstAfter(snapped(inner.right() - 1));
    const int y1 = firstAfter(snapped(inner.top() + 1)), y2 = firstAfter(snapped(inner.bottom() - 1));
    const double left = x0 + 0.5 - ol, right = orr - (x3 - 0.5);
    const double top = y0 + 0.5 - ot, bottom = ob - (y3 - 0.5);
    const int cutTL = left + top <= 1, cutTR = right + top < 1;
    const int cutBL = left + bottom <= 1, cutBR = right + bottom < 1;

    painter->save();
    painter->setWorldTransform(QTransform());
    painter->fillRect(QRect(QPoint(x0 + cutTL, y0), QPoint(x3 - 1 - cutTR, y0)), color);
    painter->fillRect(QRect(QPoint(x0, y0 + 1), QPoint(x3 - 1, y1 - 1)), color);
    painter->fillRect(QRect(QPoint(x0, y1), QPoint(x1 - 1, y2 - 1)), color);
    painter->fillRect(QRect(QPoint(x2, y1), QPoint(x3 - 1, y2 - 1)), color);
    painter->fillRect(QRect(QPoint(x0, y2), QPoint(x3 - 1, y3 - 2)), color);
    painter->fillRect(QRect(QPoint(x0 + cutBL, y3 - 1), QPoint(x3 - 1 - cutBR, y3 - 1)), color);
    painter->restore();
    return true;
}
