#include "canvas/keptshapesitem.h"

#include "canvas/labelcolor.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace {

constexpr double kPointRadius = 3.0;   // screen pixels
constexpr double kTextReach = 240.0;   // room for a category text beside a shape, screen pixels
constexpr int kAlpha = 150;            // dimmed: they are not the editable shapes

// labelme's circle: its centre, then a point on it.
double circleRadius(const KeptShape &shape)
{
    const QPointF d = shape.points.at(1) - shape.points.at(0);
    return std::hypot(d.x(), d.y());
}

bool isCircle(const KeptShape &shape)
{
    return shape.type == u"circle" && shape.points.size() == 2;
}

} // namespace

KeptShapesItem::KeptShapesItem()
{
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setFlag(ItemIsSelectable, false);
    setFlag(ItemIsMovable, false);
    setFlag(ItemIsFocusable, false);
    // Over the image, under the editable shapes.
    setZValue(5);
}

void KeptShapesItem::setShapes(const QList<KeptShape> &shapes)
{
    prepareGeometryChange();
    m_shapes = shapes;
    m_bounds = QRectF();
    for (const KeptShape &shape : std::as_const(m_shapes)) {
        if (isCircle(shape)) {
            const double r = circleRadius(shape);
            const QPointF c = shape.points.at(0);
            m_bounds |= QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r);
            continue;
        }
        for (const QPointF &p : shape.points)
            m_bounds |= QRectF(p, QSizeF(0.001, 0.001));
    }
    update();
}

void KeptShapesItem::setHiddenLabels(const QSet<QString> &labels)
{
    if (labels == m_hiddenLabels)
        return;
    m_hiddenLabels = labels;
    update();
}

void KeptShapesItem::setViewScale(double scale)
{
    const double s = scale > 0 ? scale : 1.0;
    if (qFuzzyCompare(s, m_scale))
        return;
    prepareGeometryChange();
    m_scale = s;
}

QRectF KeptShapesItem::boundingRect() const
{
    if (m_bounds.isNull())
        return QRectF();
    const double m = kTextReach / m_scale;
    return m_bounds.adjusted(-m, -m, m, m);
}

void KeptShapesItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter->font();
    font.setPixelSize(11);
    const QFontMetricsF metrics(font);
    for (const KeptShape &shape : std::as_const(m_shapes)) {
        if (shape.points.isEmpty() || m_hiddenLabels.contains(shape.label))
            continue;
        QColor color = labelColor(shape.label);
        color.setAlpha(kAlpha);
        QPen pen(color, 1.5);
        pen.setCosmetic(true);
        pen.setStyle(Qt::DashLine);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        const QPointF first = shape.points.first();
        QPointF textAt = first;
        if (isCircle(shape)) {
            const double r = circleRadius(shape);
            painter->drawEllipse(first, r, r);
            textAt = first - QPointF(r, r);
        } else if (shape.type == u"point" || shape.points.size() == 1) {
            const double r = kPointRadius / m_scale;
            painter->setBrush(color);
            for (const QPointF &p : shape.points)
                painter->drawEllipse(p, r, r);
        } else if (shape.type == u"line" || shape.type == u"linestrip") {
            painter->drawPolyline(QPolygonF(shape.points));
        } else if ((shape.type == u"mask" || shape.type == u"rectangle") && shape.points.size() == 2) {
            // A mask's pixels are the file's; its box shows where it lies. A rectangle kept for
            // want of a category is drawn as the box it is.
            const QRectF box = QRectF(shape.points.at(0), shape.points.at(1)).normalized();
            painter->drawRect(box);
            textAt = box.topLeft();
        } else {
            // Any other outline (a rotated box, a shape of a kind we do not know) closed.
            painter->drawPolygon(QPolygonF(shape.points));
            textAt = QPolygonF(shape.points).boundingRect().topLeft();
        }
        if (shape.label.isEmpty())
            continue;
        // The category in screen pixels, above the shape's corner.
        const QPointF device = painter->worldTransform().map(textAt);
        painter->save();
        painter->resetTransform();
        painter->setFont(font);
        const QRectF box(device.x(), device.y() - metrics.height() - 2, metrics.horizontalAdvance(shape.label) + 8,
                         metrics.height() + 2);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 140));
        painter->drawRect(box);
        QColor text = color;
        text.setAlpha(230);
        painter->setPen(text);
        painter->drawText(box, Qt::AlignCenter, shape.label);
        painter->restore();
    }
    painter->restore();
}
