#pragma once

class QColor;
class QPainter;
class QRectF;

// Paints exactly the pixels that QPainter::drawRect(rect) paints with an opaque, solid, cosmetic
// pen of width 2 and antialiasing off, as six rectangle fills instead of a stroked path (the
// stroker is most of the cost of a repaint with many boxes). Returns false and paints nothing
// where that equality does not hold (other paint engines, rotated or high-DPI painters, rects
// under 3 pixels); the caller then strokes the rect itself.
bool fillRectOutline(QPainter *painter, const QRectF &rect, const QColor &color);
