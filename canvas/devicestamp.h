#pragma once

#include <QImage>
#include <QPainter>

#include <functional>

// The device pixels of one drawing, drawn into an image at the drawing's sub-pixel offset and
// copied on later repaints while the drawing, the zoom and that offset stay the same. Stroking
// dashed or antialiased outlines and drawing glyphs again on every repaint is most of what a
// busy canvas costs; a copy of the same pixels costs a fraction of it. The first repaint after
// a change draws directly, the second keeps the pixels.
class DeviceStamp
{
public:
    // Whether pixels drawn elsewhere can be copied onto this painter unchanged: the raster
    // engine, no rotation or device scaling, full opacity, the default composition.
    static bool copyable(const QPainter *painter);

    // draw paints within bounds (painter coordinates) grown by margin device pixels; changed
    // says that it would paint something else than last time. Returns false, painting nothing,
    // when the caller must draw directly: the first time after a change of the drawing or of
    // its place, or when the painter does not allow a copy, or the drawing would not lie wholly
    // on the device or would be too large to keep.
    bool paint(QPainter *painter, const QRectF &bounds, double margin, bool changed,
               const std::function<void(QPainter *)> &draw);

private:
    QImage m_image;
    bool m_known = false;   // the fields below describe the current drawing
    bool m_valid = false;   // m_image holds its pixels
    // Where and how the drawing lands on the device.
    QPointF m_offset;   // device position of bounds' corner within the image
    QSizeF m_size;
    qreal m_scaleX = 0;
    qreal m_scaleY = 0;
    QPainter::RenderHints m_hints;
};
