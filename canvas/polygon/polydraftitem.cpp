#include "canvas/polygon/polydraftitem.h"

#include "shared/theme.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QPolygonF>

PolyDraftItem::PolyDraftItem(QGraphicsItem *parent)
    : QGraphicsItem(parent)
{
    setAcceptedMouseButtons(Qt::NoButton);
}

void PolyDraftItem::setPoints(const QList<QPointF> &points)
{
    prepareGeometryChange();
    m_points = points;
    update();
}

QRectF PolyDraftItem::boundingRect() const
{
    if (m_points.isEmpty())
        return QRectF();
    // Generous margin so the screen-sized point squares stay inside at any zoom >= 0.1.
    return QPolygonF(m_points).boundingRect().adjusted(-40, -40, 40, 40);
}

void PolyDraftItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    double s = 1.0;
    if (scene() && !scene()->views().isEmpty()) {
        const double m11 = scene()->views().first()->transform().m11();
        if (m11 > 0)
            s = m11;
    }
    QPen pen(Theme::accent, 1.6);
    pen.setCosmetic(true);
    QColor fill = Theme::accent;
    fill.setAlpha(38);
    painter->setPen(pen);
    painter->setBrush(fill);
    if (m_points.size() > 2)
        painter->drawPolygon(QPolygonF(m_points), Qt::OddEvenFill);
    else if (m_points.size() == 2)
        painter->drawLine(m_points.at(0), m_points.at(1));

    painter->save();
    painter->scale(1 / s, 1 / s);
    painter->setPen(QPen(QColor(0x1E, 0x21, 0x28), 1));
    painter->setBrush(QColor(0xE6, 0xE9, 0xEF));
    for (const QPointF &p : m_points)
        painter->drawRect(QRectF(p.x() * s - 3, p.y() * s - 3, 6, 6));
    painter->restore();
}
