#include "canvas/shapeitembase.h"

#include "canvas/annotationscene.h"
#include "canvas/labelcolor.h"
#include "shared/theme.h"

#include <QGuiApplication>
#include <QPainter>

#include <cmath>
#include <tuple>
#include <utility>

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

void ShapeItemBase::paintTextBox(QPainter *painter, const QRectF &box, const QColor &fill,
                                 const QStaticText &text, qreal advance, qreal height)
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
    painter->setPen(Qt::white);
    // Centred in the box, as drawText with Qt::AlignCenter would place it.
    painter->drawStaticText(QPointF(box.left() + (box.width() - advance) / 2,
                                    box.top() + (box.height() - height) / 2), text);
}

QString ShapeItemBase::tagText() const
{
    if (!m_ann.difficult)
        return m_ann.label;
    return m_ann.label + QStringLiteral(" · 困难");   // VOC flag marker; deliberately untranslated
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
        m_paintFont = painter->font();
        m_paintFontKnown = true;
    }
    const QRectF tag = tagRect(screenRect, elideToRect, m_paintFont);
    if (tag.isNull())
        return;
    painter->setFont(m_tagCache.font);
    paintTextBox(painter, tag, shapeColor(), m_tagCache.shown, m_tagCache.advance, m_tagCache.height);
}

void ShapeItemBase::paintBadge(QPainter *painter, const QRectF &screenRect) const
{
    const QRectF badge = badgeRect(screenRect);
    if (badge.isNull())
        return;
    painter->setFont(m_badgeCache.font);
    paintTextBox(painter, badge, QColor(0, 0, 0, 153), m_badgeCache.shown, m_badgeCache.advance,
                 m_badgeCache.height);
}

void ShapeItemBase::paintHandle(QPainter *painter, const QPointF &centre, bool hovered)
{
    painter->setPen(QPen(kHandleBorder, 1));
    painter->setBrush(hovered ? Theme::accent : kHandleFill);
    painter->drawRect(QRectF(centre.x() - kHandleSize / 2, centre.y() - kHandleSize / 2,
                             kHandleSize, kHandleSize));
}
