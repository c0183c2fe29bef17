#include "ui/objectdelegate.h"

#include "shared/language.h"
#include "ui/panelroles.h"
#include "ui/rowwidth.h"

#include <QPainter>

QSize ObjectDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(rowWidthFor(option.widget, RowWidth), RowHeight);
}

void ObjectDelegate::drawShapeIcon(QPainter *painter, const QRectF &s, bool polygon)
{
    QPen pen(QColor(0x9A, 0xA3, 0xB2), 1.1);
    pen.setJoinStyle(Qt::RoundJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    if (!polygon) {
        painter->drawRect(s);
        return;
    }
    const QPointF pentagon[5] = {
        {s.center().x(), s.top()},
        {s.right(), s.center().y()},
        {s.left() + 0.82 * s.width(), s.bottom()},
        {s.left() + 0.18 * s.width(), s.bottom()},
        {s.left(), s.center().y()},
    };
    painter->drawPolygon(pentagon, 5);
}

void ObjectDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(option.rect).adjusted(4, 2, -4, -2);
    const qreal m = r.center().y();
    const bool pending = index.data(ObjectRole::Pending).toBool();
    const double confidence = index.data(ObjectRole::Confidence).toDouble();
    const QColor dim(0x9A, 0xA3, 0xB2);
    if (index.data(ObjectRole::Hidden).toBool())
        painter->setOpacity(0.4);   // hidden on the canvas: greyed, and not selectable

    QColor background;
    if (option.state & QStyle::State_Selected)
        background = QColor(0x1C, 0x3A, 0x63);
    else if (pending)
        background = QColor(226, 185, 61, 28);
    else if (option.state & QStyle::State_MouseOver)
        background = QColor(0x2D, 0x32, 0x3D);
    painter->setPen(Qt::NoPen);
    if (background.isValid()) {
        painter->setBrush(background);
        painter->drawRoundedRect(r, 6, 6);
    }
    painter->setBrush(index.data(ObjectRole::Color).value<QColor>());
    painter->drawRoundedRect(QRectF(r.left() + 10, m - 5, 10, 10), 3, 3);

    QFont small = option.font;
    small.setPixelSize(11);
    const QFontMetricsF smallMetrics(small);
    qreal x = r.right() - 10;

    if (pending) {
        const QString badge = translateText("⚡ 待确认");
        const qreal width = smallMetrics.horizontalAdvance(badge) + 20;
        const QRectF badgeRect(x - width, m - 8.5, width, 17);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(226, 185, 61, 36));
        painter->drawRoundedRect(badgeRect, 8.5, 8.5);
        painter->setFont(small);
        painter->setPen(QColor(0xE2, 0xB9, 0x3D));
        painter->drawText(badgeRect, Qt::AlignCenter, badge);
        x = badgeRect.left() - 6;
        if (confidence >= 0) {
            const QString text = QString::number(confidence, 'f', 2);
            const qreal w = smallMetrics.horizontalAdvance(text);
            painter->setPen(dim);
            painter->drawText(QRectF(x - w, r.top(), w, r.height()), Qt::AlignRight | Qt::AlignVCenter, text);
            x -= w + 8;
        }
    } else {
        QString text = index.data(ObjectRole::Detail).toString();
        if (!text.isEmpty()) {
            if (confidence >= 0)
                text += QStringLiteral(" · ") + QString::number(confidence, 'f', 2);
            const qreal w = smallMetrics.horizontalAdvance(text);
            const qreal iconX = x - w - 11;
            drawShapeIcon(painter, QRectF(iconX - 3.5, m - 3.5, 7, 7), index.data(ObjectRole::Polygon).toBool());
            painter->setFont(small);
            painter->setPen(dim);
            painter->drawText(QRectF(x - w, r.top(), w, r.height()), Qt::AlignRight | Qt::AlignVCenter, text);
            x -= w + 22;
        }
    }

    qreal nameLeft = r.left() + 28;
    const int number = index.data(ObjectRole::Number).toInt();
    if (number > 0) {
        // The place in the label file, as check findings name the shape ("#4").
        const QString text = QStringLiteral("#%1").arg(number);
        const qreal w = smallMetrics.horizontalAdvance(text);
        painter->setFont(small);
        painter->setPen(dim);
        painter->drawText(QRectF(nameLeft, r.top(), w, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
        nameLeft += w + 6;
    }
    const qreal available = x - nameLeft;
    if (available > 20) {
        painter->setFont(option.font);
        painter->setPen(QColor(0xE6, 0xE9, 0xEF));
        const QString name = QFontMetricsF(option.font).elidedText(index.data(Qt::DisplayRole).toString(),
                                                                    Qt::ElideMiddle, available);
        painter->drawText(QRectF(nameLeft, r.top(), available, r.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    }
    painter->restore();
}
