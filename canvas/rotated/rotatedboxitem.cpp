#include "canvas/rotated/rotatedboxitem.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

// Handles in the box's own axes, as fractions of its half sides (the order of BoxItem's).
const QPointF kHandleUnits[8] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}};

} // namespace

RotatedBoxItem::RotatedBoxItem(const Annotation &annotation, QGraphicsItem *parent)
    : ShapeItemBase(annotation, parent)
{
}

void RotatedBoxItem::setAnnotation(const Annotation &annotation)
{
    replaceAnnotation(annotation, &Annotation::points);
}

QPolygonF RotatedBoxItem::outline() const
{
    return QPolygonF(m_ann.points);
}

QPointF RotatedBoxItem::handleScenePosition(int handle) const
{
    const RotatedFrame f = frame();
    const double hw = f.width / 2;
    const double hh = f.height / 2;
    if (handle == kTurnHandle)
        return f.toImage(QPointF(0, -hh - kTurnReach / hitScale()));
    if (handle < 0 || handle > 7)
        return f.centre;
    return f.toImage(QPointF(kHandleUnits[handle].x() * hw, kHandleUnits[handle].y() * hh));
}

QRectF RotatedBoxItem::frameBounds() const
{
    const double m = (kHandleSize / 2 + 4) / hitScale();
    QRectF r = outline().boundingRect().adjusted(-m, -m, m, m);
    if (isSelected()) {
        // A rect of no size would be left out of the union.
        const QPointF turn = handleScenePosition(kTurnHandle);
        r |= QRectF(turn.x() - m, turn.y() - m, 2 * m, 2 * m);
    }
    return r;
}

QRectF RotatedBoxItem::boundingRect() const
{
    return frameBounds() | decorationBounds(outline().boundingRect(), false);
}

QPainterPath RotatedBoxItem::shape() const
{
    QPainterPath path;
    path.addPolygon(outline());
    path.closeSubpath();
    if (!isSelected())
        return path;
    const double half = (kHandleSize / 2 + 2) / hitScale();
    for (int h = 0; h <= kTurnHandle; ++h) {
        if (h == kMoveHandle)
            continue;
        const QPointF c = handleScenePosition(h);
        path.addRect(QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half));
    }
    path.setFillRule(Qt::WindingFill);
    return path;
}

int RotatedBoxItem::handleAt(const QPointF &pos) const
{
    if (!isSelected())
        return -1;
    const double half = (kHandleSize / 2 + 2) / hitScale();
    for (int h : {int(kTurnHandle), 0, 1, 2, 3, 4, 5, 6, 7}) {
        const QPointF c = handleScenePosition(h);
        if (std::abs(pos.x() - c.x()) <= half && std::abs(pos.y() - c.y()) <= half)
            return h;
    }
    return outline().containsPoint(pos, Qt::OddEvenFill) ? kMoveHandle : -1;
}

void RotatedBoxItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_dragging)
        return;
    const bool draws = pressDrawsHere(event->modifiers());
    const int h = draws ? -1 : handleAt(event->pos());
    setHovered(h);
    Qt::CursorShape cursor = Qt::ArrowCursor;
    if (draws)
        cursor = Qt::CrossCursor;
    else if (h == kMoveHandle)
        cursor = Qt::SizeAllCursor;
    else if (h == kTurnHandle)
        cursor = Qt::PointingHandCursor;
    else if (h >= 0)
        cursor = Qt::CrossCursor;
    showCursor(cursor);
}

void RotatedBoxItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const int h = handleAt(event->pos());
    if (!startGesture(event, h != -1 || outline().containsPoint(event->pos(), Qt::OddEvenFill)))
        return;
    m_startFrame = frame();
    m_dragHandle = h == -1 ? kMoveHandle : h;
    setHovered(-1);
}

QList<QPointF> RotatedBoxItem::draggedCorners(const QPointF &scenePos, Qt::KeyboardModifiers modifiers) const
{
    RotatedFrame f = m_startFrame;
    if (m_dragHandle == kMoveHandle) {
        f.centre += scenePos - m_pressScenePos;
        return f.corners();
    }
    if (m_dragHandle == kTurnHandle) {
        // The handle sits on the box's upward axis: that axis follows the mouse.
        const QPointF d = scenePos - f.centre;
        if (d.isNull())
            return f.corners();
        double angle = std::atan2(d.y(), d.x()) * 180.0 / kPi + 90.0;
        if (modifiers & Qt::ShiftModifier)
            angle = std::round(angle / 15.0) * 15.0;
        angle = std::fmod(angle + 540.0, 360.0) - 180.0;
        f.angle = angle;
        return f.corners();
    }
    // An edge moves along the box's own axis; the opposite edge stays where it is.
    const QPointF unit = kHandleUnits[m_dragHandle];
    const QPointF local = m_startFrame.toLocal(scenePos);
    double left = -f.width / 2, right = f.width / 2, top = -f.height / 2, bottom = f.height / 2;
    if (unit.x() < 0)
        left = std::min(local.x(), right - 2);
    if (unit.x() > 0)
        right = std::max(local.x(), left + 2);
    if (unit.y() < 0)
        top = std::min(local.y(), bottom - 2);
    if (unit.y() > 0)
        bottom = std::max(local.y(), top + 2);
    f.centre = m_startFrame.toImage(QPointF((left + right) / 2, (top + bottom) / 2));
    f.width = right - left;
    f.height = bottom - top;
    return f.corners();
}

void RotatedBoxItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    dragGesture(event, [this, modifiers](const QPointF &scenePos) {
        prepareGeometryChange();
        m_ann.points = draggedCorners(scenePos, modifiers);
        m_ann.rect = QPolygonF(m_ann.points).boundingRect();
    });
}

void RotatedBoxItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    m_dragHandle = -1;
    finishGesture(event, &Annotation::points);
}

QVariant RotatedBoxItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    // The turning handle lies outside the outline: selecting grows the bounds.
    if (change == ItemSelectedChange)
        prepareGeometryChange();
    return ShapeItemBase::itemChange(change, value);
}

void RotatedBoxItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const double s = paintScale();
    const QPolygonF poly = outline();
    const QColor c = shapeColor();
    QColor fill = c;
    fill.setAlpha(20);
    painter->setBrush(fill);
    painter->setPen(outlinePen());
    painter->drawPolygon(poly);

    painter->save();
    painter->scale(1 / s, 1 / s);
    QPolygonF screen;
    for (const QPointF &p : poly)
        screen.append(p * s);
    const QRectF R = screen.boundingRect();
    if (poly.size() == 4) {
        // The first edge is the box's top: marked so that its turn can be read at a glance.
        QPen top(c, 3);
        top.setCosmetic(true);
        painter->setPen(top);
        painter->drawLine(screen[0], screen[1]);
    }
    if (isSelected()) {
        QPen halo(Qt::white, 1.5);
        halo.setCosmetic(true);
        painter->setPen(halo);
        painter->setBrush(Qt::NoBrush);
        painter->drawPolygon(screen);
        const QPointF topMiddle = handleScenePosition(4) * s;
        const QPointF turn = handleScenePosition(kTurnHandle) * s;
        painter->drawLine(topMiddle, turn);
        for (int h = 0; h < 8; ++h)
            paintHandle(painter, handleScenePosition(h) * s, h == m_hoverPart);
        painter->setPen(halo);
        painter->setBrush(m_hoverPart == kTurnHandle ? QColor(0x4C, 0x8D, 0xFF) : QColor(Qt::white));
        painter->drawEllipse(turn, kHandleSize / 2 + 1, kHandleSize / 2 + 1);
    }
    paintTag(painter, R, false);
    paintBadge(painter, R);
    painter->restore();
}
