#pragma once

#include "canvas/devicestamp.h"

#include <QColor>
#include <QFont>
#include <QString>

class QStaticText;

// One label tag or confidence badge: a rounded box with white text centred in it. Filling the
// box and drawing its glyphs for every shape on every repaint is much of what a busy canvas
// costs, so the box is kept as device pixels (DeviceStamp) while text, colour and font stay.
class TextBoxStamp
{
public:
    // box is in the painter's coordinates; advance and height are the text's metrics.
    void paint(QPainter *painter, const QRectF &box, const QColor &fill, const QStaticText &text,
               qreal advance, qreal height);
    // The same box drawn straight onto the painter.
    static void draw(QPainter *painter, const QRectF &box, const QColor &fill, const QStaticText &text,
                     qreal advance, qreal height);

private:
    static void drawFill(QPainter *painter, const QRectF &box, const QColor &fill);
    static void drawText(QPainter *painter, const QRectF &box, const QStaticText &text, qreal advance,
                         qreal height);

    DeviceStamp m_stamp;
    // What the pixels were drawn from.
    QColor m_fill;
    QString m_text;
    QFont m_font;
};
