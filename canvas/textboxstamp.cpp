#include "canvas/textboxstamp.h"

#include <QStaticText>

#include <cmath>
#include <tuple>
#include <utility>

void TextBoxStamp::paint(QPainter *painter, const QRectF &box, const QColor &fill,
                         const QStaticText &text, qreal advance, qreal height)
{
    const bool changed = m_fill != fill || m_text != text.text() || !(m_font == painter->font());
    m_fill = fill;
    m_text = text.text();
    m_font = painter->font();
    // Copied glyphs over a translucent fill would be blended twice: such a box is filled here
    // and only its text is copied.
    const bool wholeBox = fill.alpha() == 255;
    if (!wholeBox)
        drawFill(painter, box, fill);
    // Two pixels for glyphs that overhang their advance.
    const bool copied = m_stamp.paint(painter, box, 2, changed, [&](QPainter *stamp) {
        stamp->setFont(m_font);
        if (wholeBox)
            draw(stamp, box, fill, text, advance, height);
        else
            drawText(stamp, box, text, advance, height);
    });
    if (copied)
        return;
    if (wholeBox)
        drawFill(painter, box, fill);
    drawText(painter, box, text, advance, height);
}

void TextBoxStamp::draw(QPainter *painter, const QRectF &box, const QColor &fill,
                        const QStaticText &text, qreal advance, qreal height)
{
    drawFill(painter, box, fill);
    drawText(painter, box, text, advance, height);
}

void TextBoxStamp::drawFill(QPainter *painter, const QRectF &box, const QColor &fill)
{
    // The rounded rect (radius 2) as a polygon filled without antialiasing: the same shape to
    // the pixel, at a third of the cost of an antialiased curved path on a busy repaint.
    static const struct { double cos, sin; } arc[4] = {{1, 0}, {0.8660254, 0.5}, {0.5, 0.8660254}, {0, 1}};
    const double radius = 2;
    const QPointF centres[4] = {{box.right() - radius, box.bottom() - radius},
                                {box.left() + radius, box.bottom() - radius},
                                {box.left() + radius, box.top() + radius},
                                {box.right() - radius, box.top() + radius}};
    QPointF outline[16];
    for (int corner = 0; corner < 4; ++corner) {
        for (int k = 0; k < 4; ++k) {
            // Quarter turns: (c, s) -> (-s, c) per corner, going round the box.
            double c = arc[k].cos, s = arc[k].sin;
            for (int turn = 0; turn < corner; ++turn)
                std::tie(c, s) = std::make_pair(-s, c);
            outline[corner * 4 + k] = centres[corner] + QPointF(c, s) * radius;
        }
    }
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawPolygon(outline, 16);
    painter->setRenderHint(QPainter::Antialiasing, antialiased);
}

void TextBoxStamp::drawText(QPainter *painter, const QRectF &box, const QStaticText &text, qreal advance,
                            qreal height)
{
    painter->setPen(Qt::white);
    // Centred in the box, as drawText with Qt::AlignCenter would place it.
    painter->drawStaticText(QPointF(box.left() + (box.width() - advance) / 2,
                                    box.top() + (box.height() - height) / 2), text);
}
