#include "canvas/polygon/polyitem.h"

#include "canvas/polygon/outlinedetail.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QLineF>
#include <QPainter>

#include <algorithm>
#include <cmath>

PolyItem::PolyItem(const Annotation &annotation, QGraphicsItem *parent)
    : ShapeItemBase(annotation, parent)
{
}

void PolyItem::setAnnotation(const Annotation &annotation)
{
    replaceAnnotation(annotation, &Annotation::points);
}

QRectF PolyItem::pointBounds() const
{
    const QList<QPointF> &points = m_ann.points;
    if (m_detail.source.constData() != points.constData() || m_detail.source.size() != points.size()) {
        m_detail = Detail();
        m_detail.source = points;
        m_detail.bounds = polygon().boundingRect();
    }
    return m_detail.bounds;
}

QPolygonF PolyItem::drawnOutline() const
{
    if (!detailed())
        return polygon();
    pointBounds();   // renews the cache when the points changed
    // One outline per power of two of the zoom: a cell stays within a screen pixel.
    const int level = int(std::floor(std::log2(paintScale())));
    if (!m_detail.outlineKnown || m_detail.level != level) {
        m_detail.outline = simplifiedOutline(m_ann.points, std::ldexp(1.0, -level), kMaxDrawnPoints);
        m_detail.level = level;
        m_detail.outlineKnown = true;
    }
    return m_detail.outline;
}

QRectF PolyItem::boundingRect() const
{
    const double m = 4 / hitScale();
    const QRectF r = pointBounds();
    return r.adjusted(-m, -m, m, m) | decorationBounds(r, false);
}

QPainterPath PolyItem::shape() const
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addPolygon(drawnOutline());
    path.closeSubpath();
    if (!isSelected() || m_ann.points.isEmpty() || detailed())
        return path;
    // Vertices of a selected polygon are hit within their tolerance, also outside the outline.
    const double radius = 5 / hitScale();
    QPainterPath discs;
    discs.setFillRule(Qt::WindingFill);
    for (const QPointF &p : m_ann.points)
        discs.addEllipse(p, radius, radius);
    const double m = 4 / hitScale();
    QPainterPath bounds;
    bounds.addRect(pointBounds().adjusted(-m, -m, m, m));
    return path.united(discs.intersected(bounds));
}

int PolyItem::vertexAt(const QPointF &pos) const
{
    if (!isSelected() || detailed())
        return -1;
    const double tolerance = 5 / hitScale();
    for (int i = 0; i < m_ann.points.size(); ++i) {
        if (QLineF(m_ann.points.at(i), pos).length() <= tolerance)
            return i;
    }
    return -1;
}

void PolyItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_dragging)
        return;
    const bool draws = pressDrawsHere(event->modifiers());
    const int v = draws ? -1 : vertexAt(event->pos());
    setHovered(v);
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (v >= 0 || draws)
        shape = Qt::CrossCursor;
    else if (polygon().containsPoint(event->pos(), Qt::OddEvenFill))
        shape = Qt::SizeAllCursor;
    showCursor(shape);
}

void PolyItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const int v = vertexAt(event->pos());
    if (!startGesture(event, v >= 0 || polygon().containsPoint(event->pos(), Qt::OddEvenFill)))
        return;
    m_startPoints = polygon();
    m_dragIndex = v < 0 ? kMoveAll : v;
    setHovered(-1);
}

QList<QPointF> PolyItem::draggedPoints(const QPointF &scenePos) const
{
    const QRectF image = imageBounds();
    if (m_dragIndex == kMoveAll) {
        QPolygonF moved = m_startPoints.translated(scenePos - m_pressScenePos);
        if (image.isValid()) {
            const QRectF b = moved.boundingRect();
            double cx = 0, cy = 0;
            if (b.left() < image.left())
                cx = image.left() - b.left();
            else if (b.right() > image.right())
                cx = image.right() - b.right();
            if (b.top() < image.top())
                cy = image.top() - b.top();
            else if (b.bottom() > image.bottom())
                cy = image.bottom() - b.bottom();
            moved.translate(cx, cy);
        }
        return moved;
    }
    QList<QPointF> points = m_startPoints;
    if (m_dragIndex < 0 || m_dragIndex >= points.size())
        return m_ann.points;
    QPointF p = scenePos;
    if (image.isValid()) {
        p.setX(std::clamp(p.x(), image.left(), image.right()));
        p.setY(std::clamp(p.y(), image.top(), image.bottom()));
    }
    points[m_dragIndex] = p;
    return points;
}

void PolyItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    dragGesture(event, [this](const QPointF &scenePos) { m_ann.points = draggedPoints(scenePos); });
}

void PolyItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    m_dragIndex = -2;   // -2 whenever no gesture runs
    finishGesture(event, &Annotation::points);
}

void PolyItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (m_ann.points.size() < 2)
        return;
    const double s = paintScale();
    const QPolygonF poly = drawnOutline();
    if (isSelected()) {
        QPen halo(Qt::white, 6);
        halo.setCosmetic(true);
        painter->setPen(halo);
        painter->setBrush(Qt::NoBrush);
        painter->drawPolygon(poly, Qt::OddEvenFill);
    }
    QColor fill = shapeColor();
    fill.setAlpha(20);
    // As for boxes: an aliased fill under an antialiased outline.
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawPolygon(poly, Qt::OddEvenFill);
    painter->setRenderHint(QPainter::Antialiasing, antialiased);
    paintOutline(painter, pointBounds(), [this, &poly](QPainter *p) {
        p->setPen(outlinePen());
        p->setBrush(Qt::NoBrush);
        p->drawPolygon(poly, Qt::OddEvenFill);
    });

    painter->save();
    painter->scale(1 / s, 1 / s);
    const QRectF b = pointBounds();
    const QRectF R(b.topLeft() * s, b.bottomRight() * s);
    paintTag(painter, R, false);
    paintBadge(painter, R);
    if (isSelected() && !detailed()) {
        for (int i = 0; i < poly.size(); ++i)
            paintHandle(painter, poly.at(i) * s, i == m_hoverPart);
    }
    painter->restore();
}
