#include "canvas/boxitem.h"

#include <QCursor>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
Qt::CursorShape cursorForHandle(int handle)
{
    switch (handle) {
    case 0: case 3: return Qt::SizeFDiagCursor;
    case 1: case 2: return Qt::SizeBDiagCursor;
    case 4: case 5: return Qt::SizeVerCursor;
    case 6: case 7: return Qt::SizeHorCursor;
    case BoxItem::kMoveHandle: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

// Shifts r into image without resizing it; a box larger than the image ends at its right and
// bottom edges.
QRectF keptInside(QRectF r, const QRectF &image)
{
    if (!image.isValid())
        return r;
    if (r.left() < image.left())
        r.moveLeft(image.left());
    if (r.top() < image.top())
        r.moveTop(image.top());
    if (r.right() > image.right())
        r.moveRight(image.right());
    if (r.bottom() > image.bottom())
        r.moveBottom(image.bottom());
    return r;
}
} // namespace

BoxItem::BoxItem(const Annotation &annotation, QGraphicsItem *parent)
    : ShapeItemBase(annotation, parent)
{
}

void BoxItem::setAnnotation(const Annotation &annotation)
{
    if (annotation.rect != m_ann.rect || decorationsDiffer(annotation))
        prepareGeometryChange();
    m_ann = annotation;
    update();
}

void BoxItem::setViewScale(double s)
{
    storeViewScale(s);
}

QRectF BoxItem::boundingRect() const
{
    const QRectF r = m_ann.rect.normalized();
    return frameRect() | decorationBounds(r, true);
}

QRectF BoxItem::frameRect() const
{
    const double m = 4 / hitScale();
    return m_ann.rect.normalized().adjusted(-m, -m, m, m);
}

QPainterPath BoxItem::shape() const
{
    const QRectF r = m_ann.rect.normalized();
    QPainterPath path;
    path.addRect(r);
    if (!isSelected())
        return path;
    // A selected box is also hit on the outer halves of its handles, as far as the outline's
    // margin reaches; otherwise presses there would never reach the item.
    QPainterPath handles;
    for (int h = 0; h < 8; ++h)
        handles.addRect(handleHitRect(r, h));
    QPainterPath bounds;
    bounds.addRect(frameRect());
    return path.united(handles.intersected(bounds));
}

QPointF BoxItem::handlePosition(const QRectF &r, int handle)
{
    switch (handle) {
    case 0: return r.topLeft();
    case 1: return r.topRight();
    case 2: return r.bottomLeft();
    case 3: return r.bottomRight();
    case 4: return QPointF(r.center().x(), r.top());
    case 5: return QPointF(r.center().x(), r.bottom());
    case 6: return QPointF(r.left(), r.center().y());
    case 7: return QPointF(r.right(), r.center().y());
    default: return r.center();
    }
}

QRectF BoxItem::handleHitRect(const QRectF &rect, int handle) const
{
    const double half = (kHandleSize / 2 + 2) / hitScale();
    const QPointF c = handlePosition(rect, handle);
    return QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half);
}

int BoxItem::handleAt(const QPointF &pos) const
{
    if (!isSelected())
        return -1;
    const QRectF r = m_ann.rect.normalized();
    for (int h = 0; h < 8; ++h) {
        if (handleHitRect(r, h).contains(pos))
            return h;
    }
    return r.contains(pos) ? kMoveHandle : -1;
}

void BoxItem::setHoverHandle(int handle)
{
    if (handle == m_hoverHandle)
        return;
    m_hoverHandle = handle;
    update();
}

void BoxItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_dragging)
        return;
    const int h = handleAt(event->pos());
    setHoverHandle(h);
    const Qt::CursorShape shape = cursorForHandle(h);
    if (!hasCursor() || cursor().shape() != shape)
        setCursor(shape);
}

void BoxItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *)
{
    setHoverHandle(-1);
    setCursor(Qt::ArrowCursor);
}

void BoxItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        selectOnly(false);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        ShapeItemBase::mousePressEvent(event);
        return;
    }
    const QRectF r = m_ann.rect.normalized();
    const int h = handleAt(event->pos());
    if (h == -1 && !r.contains(event->pos())) {
        event->ignore();
        return;
    }
    selectOnly(event->modifiers() & Qt::ControlModifier);
    m_press = m_ann;
    m_pressScenePos = event->scenePos();
    m_startRect = r;
    m_dragHandle = h == -1 ? kMoveHandle : h;
    m_dragging = true;
    m_dragMoved = false;
    setHoverHandle(-1);
    event->accept();
}

QRectF BoxItem::draggedRect(const QPointF &delta) const
{
    const QRectF image = imageBounds();
    if (m_dragHandle == kMoveHandle)
        return keptInside(m_startRect.translated(delta), image);

    // A dragged edge stops at the image border. Shifting the whole box back inside instead
    // would move the opposite edge, which the user never touched.
    const bool clamp = image.isValid();
    auto limit = [clamp](double v, double lo, double hi) { return clamp ? std::clamp(v, lo, hi) : v; };
    double l = m_startRect.left(), t = m_startRect.top();
    double r = m_startRect.right(), b = m_startRect.bottom();
    const int h = m_dragHandle;
    if (h == 0 || h == 2 || h == 6)
        l = std::min(limit(l + delta.x(), image.left(), image.right()), r - 2);
    if (h == 1 || h == 3 || h == 7)
        r = std::max(l + 2, limit(r + delta.x(), image.left(), image.right()));
    if (h == 0 || h == 1 || h == 4)
        t = std::min(limit(t + delta.y(), image.top(), image.bottom()), b - 2);
    if (h == 2 || h == 3 || h == 5)
        b = std::max(t + 2, limit(b + delta.y(), image.top(), image.bottom()));
    return keptInside(QRectF(QPointF(l, t), QPointF(r, b)).normalized(), image);
}

void BoxItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_dragging) {
        ShapeItemBase::mouseMoveEvent(event);
        return;
    }
    const QPointF delta = event->scenePos() - m_pressScenePos;
    if (!m_dragMoved) {
        if (std::abs(delta.x()) + std::abs(delta.y()) <= 4 / hitScale()) {
            event->accept();
            return;
        }
        m_dragMoved = true;
    }
    prepareGeometryChange();
    m_ann.rect = draggedRect(delta);
    update();
    event->accept();
}

void BoxItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_dragging) {
        ShapeItemBase::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    m_dragHandle = -1;
    if (m_dragMoved) {
        if (m_ann.pending == 1)
            m_ann.pending = 0;   // editing a model result confirms it
        update();
        // A drag that ends where it started (e.g. pushed against the border) is no edit.
        if (m_ann != m_press)
            emit editFinished(m_ann.id, m_press, m_ann);
    } else if (m_ann.rect != m_press.rect) {
        prepareGeometryChange();
        m_ann.rect = m_press.rect;
        update();
    }
    event->accept();
}

void BoxItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        ShapeItemBase::mouseDoubleClickEvent(event);
        return;
    }
    emit confirmRequested(m_ann.id);
    event->accept();
}

QVariant BoxItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged)
        update();
    return ShapeItemBase::itemChange(change, value);
}

void BoxItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const double s = paintScale();
    const QRectF r = m_ann.rect.normalized();
    const QColor c = shapeColor();
    QColor fill = c;
    fill.setAlpha(20);
    // Axis-aligned fill and outline are drawn aliased: on whole image pixels at 100 % and above
    // both look the same either way, and antialiased translucent fills and strokes are what a
    // busy repaint spends most of its time on (see bench/canvas).
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(r, fill);
    painter->setPen(outlinePen());
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(r);
    painter->setRenderHint(QPainter::Antialiasing, antialiased);

    painter->save();
    painter->scale(1 / s, 1 / s);
    const QRectF R(r.topLeft() * s, r.bottomRight() * s);
    if (isSelected()) {
        QPen halo(Qt::white, 2);
        halo.setCosmetic(true);
        painter->setPen(halo);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(R.adjusted(-2, -2, 2, 2));
    }
    paintTag(painter, R, true);
    paintBadge(painter, R);
    if (isSelected()) {
        for (int h = 0; h < 8; ++h)
            paintHandle(painter, handlePosition(R, h), h == m_hoverHandle);
    }
    painter->restore();
}
