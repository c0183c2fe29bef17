#include "canvas/box/keypointdots.h"

#include <QFont>
#include <QPainter>
#include <QPen>

namespace {

constexpr double kDotRadius = 4.0;   // screen pixels
constexpr double kReach = 24.0;      // a dot and its number, in screen pixels

} // namespace

bool isLabelledKeypoint(const Keypoints &keypoints, qsizetype i)
{
    if (!keypoints.visibility.isEmpty())
        return keypoints.visibility.at(i) > 0;
    return !keypoints.points.at(i).isNull();
}

QRectF keypointDotsBounds(const Keypoints &keypoints, double scale)
{
    QRectF bounds;
    const double m = kReach / qMax(scale, 0.1);
    for (qsizetype i = 0; i < keypoints.points.size(); ++i) {
        if (!isLabelledKeypoint(keypoints, i))
            continue;
        const QPointF &p = keypoints.points.at(i);
        bounds |= QRectF(p.x() - m, p.y() - m, 2 * m, 2 * m);
    }
    return bounds;
}

void paintKeypointDots(QPainter *painter, const Keypoints &keypoints, double scale, const QColor &color)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter->font();
    font.setPixelSize(11);
    painter->setFont(font);
    for (qsizetype i = 0; i < keypoints.points.size(); ++i) {
        if (!isLabelledKeypoint(keypoints, i))
            continue;
        const QPointF at = keypoints.points.at(i) * scale;
        // Visibility 1 (labelled, hidden) is a hollow dot, as annotation tools show it.
        const bool hidden = !keypoints.visibility.isEmpty() && keypoints.visibility.at(i) < 1.5;
        painter->setPen(QPen(Qt::white, 1.5));
        painter->setBrush(hidden ? QBrush(Qt::NoBrush) : QBrush(color));
        painter->drawEllipse(at, kDotRadius, kDotRadius);
        const QString number = QString::number(i);
        const QPointF textAt = at + QPointF(kDotRadius + 2, -kDotRadius - 1);
        painter->setPen(QColor(0, 0, 0, 200));
        painter->drawText(textAt + QPointF(1, 1), number);
        painter->setPen(Qt::white);
        painter->drawText(textAt, number);
    }
    painter->restore();
}
