#include "canvas/box/boxitem.h"

#include "canvas/box/keypointdots.h"
#include "canvas/rectoutline.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

#include <algorithm>

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
    replaceAnnotation(annotation, &Annotation::rect);
}

QRectF BoxItem::boundingRect() const
{
    const QRectF r = m_ann.rect.normalized();
    // The keypoints are drawn only while selected, but always covered: selecting changes no geometry.
    return frameRect() | decorationBounds(r, true) | keypointDotsBounds(m_ann.keypoints, hitScale());
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

void BoxItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_dragging)
        return;
    const bool draws = pressDrawsHere(event->modifiers());
    const int h = draws ? -1 : handleAt(event->pos());
    setHovered(h);
    showCursor(draws ? Qt::CrossCursor : cursorForHandle(h));
}

void BoxItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const QRectF r = m_ann.rect.normalized();
    const int h = handleAt(event->pos());
    if (!startGesture(event, h != -1 || r.contains(event->pos())))
        return;
    m_startRect = r;
    m_dragHandle = h == -1 ? kMoveHandle : h;
    setHovered(-1);
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
    dragGesture(event, [this](const QPointF &scenePos) {
        m_ann.rect = draggedRect(scenePos - m_pressScenePos);
    });
}

void BoxItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    m_dragHandle = -1;   // -1 whenever no gesture runs
    finishGesture(event, &Annotation::rect);
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
    // A solid outline becomes fills, a dashed one is kept as pixels: the stroke's pixels either way.
    if (m_ann.pending == 1 || !fillRectOutline(painter, r, c)) {
        paintOutline(painter, r, [this, &r](QPainter *p) {
            p->setPen(outlinePen());
            p->setBrush(Qt::NoBrush);
            p->drawRect(r);
        });
    }
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
            paintHandle(painter, handlePosition(R, h), h == m_hoverPart);
        if (!m_ann.keypoints.isEmpty())
            paintKeypointDots(painter, m_ann.keypoints, s, c);
    }
    painter->restore();
}
