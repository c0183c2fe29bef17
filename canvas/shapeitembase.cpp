#include "canvas/shapeitembase.h"

#include "canvas/annotationscene.h"
#include "canvas/labelcolor.h"
#include "shared/language.h"
#include "shared/theme.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>

namespace {
const QColor kHandleBorder(0x1E, 0x21, 0x28);
const QColor kHandleFill(0xE6, 0xE9, 0xEF);
} // namespace

ShapeItemBase::ShapeItemBase(const Annotation &annotation, QGraphicsItem *parent)
    : QGraphicsObject(parent)
    , m_ann(annotation)
{
    setAcceptHoverEvents(true);
    setFlag(ItemIsSelectable, true);
    setFlag(ItemIsMovable, false);   // the items drag themselves
    setZValue(10);
}

bool ShapeItemBase::storeViewScale(double s)
{
    if (!(s > 0))
        s = 1.0;
    if (qFuzzyCompare(s, m_scale))
        return false;
    prepareGeometryChange();   // the bounding rect is grown by screen pixels
    m_scale = s;
    update();
    return true;
}

QRectF ShapeItemBase::imageBounds() const
{
    const auto *annScene = qobject_cast<AnnotationScene *>(scene());
    if (!annScene || !annScene->imageRect().isValid())
        return QRectF();
    return annScene->imageRect();
}

QColor ShapeItemBase::shapeColor() const
{
    return m_ann.pending == 1 ? Theme::pending : labelColor(m_ann.label);
}

void ShapeItemBase::selectOnly(bool keepOthers)
{
    if (!keepOthers && scene()) {
        const QList<QGraphicsItem *> selected = scene()->selectedItems();
        for (QGraphicsItem *item : selected) {
            if (item != this)
                item->setSelected(false);
        }
    }
    setSelected(true);
}

QPen ShapeItemBase::outlinePen() const
{
    QPen pen(shapeColor(), 2);
    pen.setCosmetic(true);
    if (m_ann.pending == 1)
        pen.setDashPattern({2, 1.5});
    return pen;
}

template <typename Geometry>
void ShapeItemBase::replaceAnnotation(const Annotation &annotation, Geometry Annotation::*geometry)
{
    // The tag, badge and keypoint dots are part of the bounding rect.
    const bool decorationsDiffer = annotation.label != m_ann.label
        || annotation.difficult != m_ann.difficult || annotation.confidence != m_ann.confidence
        || annotation.keypoints != m_ann.keypoints;
    if (annotation.*geometry != m_ann.*geometry || decorationsDiffer)
        prepareGeometryChange();
    // A state applied while the button is down (undo, nudge, confirmation) wins: the rest of
    // the gesture would overwrite it and report an edit from a press record that is gone.
    m_dragging = false;
    m_ann = annotation;
    update();
}

template void ShapeItemBase::replaceAnnotation(const Annotation &, QRectF Annotation::*);
template void ShapeItemBase::replaceAnnotation(const Annotation &, QList<QPointF> Annotation::*);

bool ShapeItemBase::startGesture(QGraphicsSceneMouseEvent *event, bool hit)
{
    if (event->button() == Qt::RightButton) {
        selectOnly(false);
        event->accept();
        return false;
    }
    if (event->button() != Qt::LeftButton) {
        QGraphicsObject::mousePressEvent(event);
        return false;
    }
    if (!hit) {
        event->ignore();
        return false;
    }
    selectOnly(event->modifiers() & Qt::ControlModifier);
    m_press = m_ann;
    m_pressScenePos = event->scenePos();
    m_dragging = true;
    m_dragMoved = false;
    event->accept();
    return true;
}

void ShapeItemBase::dragGesture(QGraphicsSceneMouseEvent *event,
                                const std::function<void(const QPointF &)> &reshape)
{
    if (!m_dragging) {
        QGraphicsObject::mouseMoveEvent(event);
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
    reshape(event->scenePos());
    update();
    event->accept();
}

template <typename Geometry>
void ShapeItemBase::finishGesture(QGraphicsSceneMouseEvent *event, Geometry Annotation::*geometry)
{
    if (!m_dragging) {
        QGraphicsObject::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    if (m_dragMoved) {
        if (m_ann.pending == 1)
            m_ann.pending = 0;   // editing a model result confirms it
        update();
        // A drag that ends where it started (e.g. pushed against the border) is no edit.
        if (m_ann != m_press)
            emit editFinished(m_ann.id, m_press, m_ann);
    } else if (m_ann.*geometry != m_press.*geometry) {
        prepareGeometryChange();
        m_ann.*geometry = m_press.*geometry;
        update();
    }
    event->accept();
}

template void ShapeItemBase::finishGesture(QGraphicsSceneMouseEvent *, QRectF Annotation::*);
template void ShapeItemBase::finishGesture(QGraphicsSceneMouseEvent *, QList<QPointF> Annotation::*);

void ShapeItemBase::hoverLeaveEvent(QGraphicsSceneHoverEvent *)
{
    setHovered(-1);
    setCursor(Qt::ArrowCursor);
}

void ShapeItemBase::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QGraphicsObject::mouseDoubleClickEvent(event);
        return;
    }
    emit confirmRequested(m_ann.id);
    event->accept();
}

QVariant ShapeItemBase::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged)
        update();   // selection changes the outline and the handles
    if (change == ItemVisibleHasChanged && !value.toBool() && m_dragging) {
        // Hidden under the button: the release will not come here, so the drag ends unmade.
        m_dragging = false;
        if (m_ann != m_press) {
            prepareGeometryChange();
            m_ann = m_press;
        }
    }
    return QGraphicsObject::itemChange(change, value);
}

void ShapeItemBase::setHovered(int part)
{
    if (part == m_hoverPart)
        return;
    m_hoverPart = part;
    update();
}

bool ShapeItemBase::pressDrawsHere(Qt::KeyboardModifiers modifiers) const
{
    const auto *annScene = qobject_cast<AnnotationScene *>(scene());
    return annScene && annScene->pressDraws(modifiers);
}

void ShapeItemBase::showCursor(Qt::CursorShape shape)
{
    if (!hasCursor() || cursor().shape() != shape)
        setCursor(shape);
}

void ShapeItemBase::layoutText(TextCache &cache, const QString &text, int maxWidth) const
{
    if (cache.text == text && cache.maxWidth == maxWidth && cache.laidOutFont == cache.font)
        return;
    const QFontMetricsF fm(cache.font);
    const QString shown = maxWidth >= 0 ? fm.elidedText(text, Qt::ElideRight, maxWidth) : text;
    cache.text = text;
    cache.laidOutFont = cache.font;
    cache.maxWidth = maxWidth;
    cache.advance = fm.horizontalAdvance(shown);
    cache.height = fm.height();
    cache.shown = QStaticText(shown);
    cache.shown.setTextFormat(Qt::PlainText);
    cache.shown.prepare(QTransform(), cache.font);
}

QString ShapeItemBase::tagText() const
{
    if (!m_ann.difficult)
        return m_ann.label;
    return m_ann.label + QStringLiteral(" · ") + translateText("困难");
}

QRectF ShapeItemBase::tagRect(const QRectF &screenRect, bool elideToRect, const QFont &baseFont) const
{
    const QString text = tagText();
    if (text.isEmpty() || (elideToRect && !(screenRect.width() > 12)))
        return QRectF();
    if (!(m_tagCache.baseFont == baseFont)) {
        m_tagCache.baseFont = baseFont;
        m_tagCache.font = baseFont;
        m_tagCache.font.setPixelSize(int(kTagFontPixels));
        m_tagCache.font.setWeight(QFont::Medium);
    }
    layoutText(m_tagCache, text, elideToRect ? int(screenRect.width()) - 6 : -1);

    // Whole pixels, as integer font metrics would give.
    QRectF tag(screenRect.left(), screenRect.top(), std::ceil(m_tagCache.advance) + 8,
               std::ceil(m_tagCache.height) + 4);
    if (elideToRect && tag.right() > screenRect.right())
        tag.moveRight(screenRect.right());
    const QRectF image = imageBounds();
    if (image.isValid()) {
        const double imageLeft = image.left() * paintScale();
        if (tag.left() < imageLeft)
            tag.moveLeft(imageLeft);
    }
    return tag;
}

QRectF ShapeItemBase::badgeRect(const QRectF &screenRect) const
{
    if (!(m_ann.confidence >= 0) || !(screenRect.width() > 20) || !(screenRect.height() > 16))
        return QRectF();
    const QFont appFont = QGuiApplication::font();
    if (!(m_badgeCache.baseFont == appFont)) {
        m_badgeCache.baseFont = appFont;
        m_badgeCache.font = appFont;
        m_badgeCache.font.setPixelSize(int(kBadgeFontPixels));
    }
    if (m_badgeCache.number != m_ann.confidence || m_badgeCache.text.isEmpty()) {
        m_badgeCache.number = m_ann.confidence;
        layoutText(m_badgeCache, QString::number(m_ann.confidence, 'f', 2), -1);
    } else {
        layoutText(m_badgeCache, m_badgeCache.text, -1);
    }
    QRectF badge(0, 0, std::ceil(m_badgeCache.advance) + 6, std::ceil(m_badgeCache.height) + 2);
    badge.moveBottomRight(screenRect.bottomRight() - QPointF(1, 1));
    return badge;
}

QRectF ShapeItemBase::decorationBounds(const QRectF &sceneRect, bool elideToRect) const
{
    // Tags of short or narrow shapes and badges of narrow ones reach past the outline; the
    // bounding rect must cover them or moving such a shape would leave traces behind.
    const double s = paintScale();
    const QRectF R(sceneRect.topLeft() * s, sceneRect.bottomRight() * s);
    if (!m_paintFontKnown) {
        m_paintFont = QGuiApplication::font();
        m_paintFontKnown = true;
    }
    const QRectF screen = tagRect(R, elideToRect, m_paintFont) | badgeRect(R);
    if (screen.isNull())
        return QRectF();
    return QRectF(screen.topLeft() / s, screen.bottomRight() / s).adjusted(-1 / s, -1 / s, 1 / s, 1 / s);
}

void ShapeItemBase::paintTag(QPainter *painter, const QRectF &screenRect, bool elideToRect) const
{
    if (!(m_paintFont == painter->font())) {
        // The tag is sized with this font, and so is the bounding rect: a view whose font is not
        // the application's would otherwise show only the part of the tag the old bounds held.
        const_cast<ShapeItemBase *>(this)->prepareGeometryChange();
        m_paintFont = painter->font();
        m_paintFontKnown = true;
    }
    const QRectF tag = tagRect(screenRect, elideToRect, m_paintFont);
    if (tag.isNull())
        return;
    painter->setFont(m_tagCache.font);
    m_tagStamp.paint(painter, tag, shapeColor(), m_tagCache.shown, m_tagCache.advance, m_tagCache.height);
}

void ShapeItemBase::paintBadge(QPainter *painter, const QRectF &screenRect) const
{
    const QRectF badge = badgeRect(screenRect);
    if (badge.isNull())
        return;
    painter->setFont(m_badgeCache.font);
    m_badgeStamp.paint(painter, badge, QColor(0, 0, 0, 153), m_badgeCache.shown, m_badgeCache.advance,
                       m_badgeCache.height);
}

void ShapeItemBase::paintOutline(QPainter *painter, const QRectF &bounds,
                                 const std::function<void(QPainter *)> &stroke)
{
    const bool changed = m_ann != m_outlineShape;
    m_outlineShape = m_ann;
    // Three pixels cover the width-2 pen with its caps, joins and antialiasing.
    if (!m_outlineStamp.paint(painter, bounds, 3, changed, stroke))
        stroke(painter);
}

void ShapeItemBase::paintHandle(QPainter *painter, const QPointF &centre, bool hovered)
{
    painter->setPen(QPen(kHandleBorder, 1));
    painter->setBrush(hovered ? Theme::accent : kHandleFill);
    painter->drawRect(QRectF(centre.x() - kHandleSize / 2, centre.y() - kHandleSize / 2,
                             kHandleSize, kHandleSize));
}
