#include "ui/categorydelegate.h"

#include "shared/language.h"
#include "ui/panelroles.h"
#include "ui/rowwidth.h"

#include <QPainter>
#include <QPainterPath>

namespace {

void drawCross(QPainter *painter, const QPointF &centre, qreal width)
{
    QPen pen(QColor(0xE5, 0x53, 0x4B), width);
    pen.setCapStyle(Qt::RoundCap);
    painter->setPen(pen);
    painter->drawLine(centre + QPointF(-4, -4), centre + QPointF(4, 4));
    painter->drawLine(centre + QPointF(-4, 4), centre + QPointF(4, -4));
}

// An eye centred on centre; closed (struck through) when the category is hidden.
void drawEye(QPainter *painter, const QPointF &centre, bool hidden, bool hovered)
{
    QColor colour = hidden ? QColor(0x4C, 0x8D, 0xFF) : QColor(0x9A, 0xA3, 0xB2);
    if (!hidden && !hovered)
        colour.setAlpha(150);
    QPen pen(colour, 1.3);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    QPainterPath outline(centre + QPointF(-7, 0));
    outline.quadTo(centre + QPointF(0, -7), centre + QPointF(7, 0));
    outline.quadTo(centre + QPointF(0, 7), centre + QPointF(-7, 0));
    painter->drawPath(outline);
    painter->drawEllipse(centre, 2, 2);
    if (hidden)
        painter->drawLine(centre + QPointF(-6, 5), centre + QPointF(6, -5));
}

} // namespace

QRectF CategoryDelegate::promptBand(const QRect &row)
{
    const QRectF r = QRectF(row).adjusted(4, 2, -4, -2);
    const qreal left = r.left() + 28 + NumberShift;
    // The question may use all the room up to the check mark's hit zone.
    return QRectF(left, r.top(), row.right() - CheckZoneLeft - 4 - left, r.height());
}

QSize CategoryDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(rowWidthFor(option.widget, RowWidth), RowHeight);
}

void CategoryDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    const QRect full = option.rect;
    const QRectF r = QRectF(full).adjusted(4, 2, -4, -2);
    const qreal m = r.center().y();
    const bool confirming = index.data(CategoryRole::Confirming).toBool();
    const bool hovered = option.state & QStyle::State_MouseOver;
    const int count = index.data(CategoryRole::Count).toInt();
    const bool hidden = index.data(CategoryRole::Hidden).toBool();

    QColor background;
    if (confirming)
        background = QColor(0x3A, 0x27, 0x25);
    else if (option.state & QStyle::State_Selected)
        background = QColor(0x1C, 0x3A, 0x63);
    else if (hovered)
        background = QColor(0x2D, 0x32, 0x3D);
    painter->setPen(Qt::NoPen);
    if (background.isValid()) {
        painter->setBrush(background);
        painter->drawRoundedRect(r, 6, 6);
    }

    // A hidden category's row is dimmed, as its shapes' rows are.
    if (hidden && !confirming)
        painter->setOpacity(0.45);
    if (index.row() < NumberedRows) {
        QFont numberFont = option.font;
        numberFont.setPixelSize(10);
        painter->setFont(numberFont);
        painter->setPen(QColor(0x9A, 0xA3, 0xB2));
        // On the name's baseline, centred in its column left of the swatch.
        const QFontMetricsF nameMetrics(option.font);
        const qreal baseline = r.top() + (r.height() - nameMetrics.height()) / 2 + nameMetrics.ascent();
        const QString number = QString::number(index.row() + 1);
        const qreal numberWidth = QFontMetricsF(numberFont).horizontalAdvance(number);
        painter->drawText(QPointF(r.left() + 9 - numberWidth / 2, baseline), number);
    }

    painter->setPen(Qt::NoPen);
    painter->setBrush(index.data(CategoryRole::Color).value<QColor>());
    painter->drawRoundedRect(QRectF(r.left() + 10 + NumberShift, m - 5, 10, 10), 3, 3);

    const qreal textLeft = r.left() + 28 + NumberShift;
    painter->setFont(option.font);
    const QFontMetricsF metrics(option.font);
    if (confirming) {
        painter->setPen(QColor(0xE6, 0xE9, 0xEF));
        const QRectF band = promptBand(full);
        const QString prompt = metrics.elidedText(translateText("同时删除 %1 个标注？").arg(count),
                                                  Qt::ElideRight, band.width());
        painter->drawText(band, Qt::AlignLeft | Qt::AlignVCenter, prompt);

        QPen checkPen(QColor(0x3F, 0xB2, 0x7F), 2);
        checkPen.setCapStyle(Qt::RoundCap);
        checkPen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(checkPen);
        painter->setBrush(Qt::NoBrush);
        const qreal c = full.right() - 37;
        const QPointF check[3] = {{c - 4, m}, {c - 1, m + 3.5}, {c + 4, m - 3.5}};
        painter->drawPolyline(check, 3);
        drawCross(painter, QPointF(full.right() - 13, m), 1.8);
    } else {
        const QString countText = QString::number(count);
        const qreal countWidth = metrics.horizontalAdvance(countText);
        const qreal countRight = full.right() - CheckZoneLeft - 2;
        painter->setPen(QColor(0x9A, 0xA3, 0xB2));
        painter->drawText(QRectF(countRight - countWidth, r.top(), countWidth, r.height()),
                          Qt::AlignRight | Qt::AlignVCenter, countText);
        const qreal available = countRight - countWidth - 10 - textLeft;
        if (available > 20) {
            painter->setPen(QColor(0xE6, 0xE9, 0xEF));
            painter->drawText(QRectF(textLeft, r.top(), available, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, available));
        }
        painter->setOpacity(1);
        drawEye(painter, QPointF(full.right() - 37, m), hidden, hovered);
        if (hovered)
            drawCross(painter, QPointF(full.right() - 14, m), 1.6);
    }
    painter->restore();
}
