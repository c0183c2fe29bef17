#include "ui/filedelegate.h"

#include "ui/panelroles.h"
#include "ui/rowwidth.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

FileDelegate::FileDelegate(const QHash<QString, QPixmap> *thumbnails, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_thumbnails(thumbnails)
{
}

qreal FileDelegate::fittingRatio(const QSize &pixels)
{
    return std::max(qreal(pixels.width()) / ThumbWidth, qreal(pixels.height()) / ThumbHeight);
}

QString FileDelegate::shownName(const QFontMetrics &metrics, const QString &name, int width)
{
    // The tooltip has the whole name.
    return metrics.elidedText(name, Qt::ElideRight, width);
}

QSize FileDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(rowWidthFor(option.widget, RowWidth), RowHeight);
}

void FileDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const QRect r = option.rect;
    const qreal centreY = r.top() + r.height() / 2.0;

    if (option.state & QStyle::State_Selected)
        painter->fillRect(r, QColor(0x1C, 0x3A, 0x63));
    else if (option.state & QStyle::State_MouseOver)
        painter->fillRect(r, QColor(0x2B, 0x30, 0x3B));
    painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), QColor(0x23, 0x27, 0x2F));

    painter->setRenderHint(QPainter::Antialiasing, true);
    const QRectF frame(r.left() + 8, r.top() + 7, ThumbWidth, ThumbHeight);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0x17, 0x1A, 0x20));
    painter->drawRoundedRect(frame, 2, 2);

    const QString path = index.data(FileRole::Path).toString();
    const auto thumb = m_thumbnails ? m_thumbnails->constFind(path) : QHash<QString, QPixmap>::const_iterator();
    if (m_thumbnails && thumb != m_thumbnails->constEnd() && !thumb->isNull()) {
        QPixmap pixmap = *thumb;
        // The cache already carries this ratio; setting an equal one does not copy the pixels.
        pixmap.setDevicePixelRatio(fittingRatio(pixmap.size()));
        const QSizeF logical = pixmap.deviceIndependentSize();
        // Whole device pixels, so the pixmap is copied as it is rather than filtered.
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPointF topLeft(std::round((frame.center().x() - logical.width() / 2) * dpr) / dpr,
                              std::round((frame.center().y() - logical.height() / 2) * dpr) / dpr);
        painter->drawPixmap(topLeft, pixmap);
    }

    const int confirmed = index.data(FileRole::Confirmed).toInt();
    const int pending = index.data(FileRole::Pending).toInt();
    const bool failed = index.data(FileRole::Failed).toBool();
    // Checked and found empty: a check mark in the badge's place, drawn below.
    const bool background = pending == 0 && confirmed == 0 && index.data(FileRole::Background).toBool();
    QString badge;
    QColor badgeBack;
    QColor badgeText;
    if (pending > 0) {
        badge = QStringLiteral("⚡%1").arg(pending);
        badgeBack = QColor(0xE2, 0xB9, 0x3D);
        badgeText = QColor(0x1E, 0x21, 0x28);
    } else if (confirmed > 0) {
        badge = QString::number(confirmed);
        badgeBack = QColor(0x33, 0x39, 0x47);
        badgeText = QColor(0x9A, 0xA3, 0xB2);
    }
    QFont badgeFont = painter->font();
    badgeFont.setPixelSize(10);
    badgeFont.setWeight(QFont::Bold);
    QRectF badgeRect;
    if (!badge.isEmpty()) {
        const int w = QFontMetrics(badgeFont).horizontalAdvance(badge);
        badgeRect = QRectF(r.right() - 10 - (w + 10), centreY - 8, w + 10, 16);
    } else if (background) {
        badge = QStringLiteral(" ");   // room for the mark; painted as a path, whatever the font
        badgeBack = QColor(0x33, 0x39, 0x47);
        badgeRect = QRectF(r.right() - 10 - 22, centreY - 8, 22, 16);
    }

    // A failed request stays visible next to a badge instead of hiding under it.
    const qreal dotX = badge.isEmpty() ? r.right() - 12 : badgeRect.left() - 7;
    const int nameLeft = int(frame.right()) + 8;
    int nameRight = r.right() - 14;
    if (!badge.isEmpty())
        nameRight = std::min(r.right() - 14 - 34, int(std::floor(badgeRect.left())) - 6);
    if (failed && !badge.isEmpty())
        nameRight = std::min(nameRight, int(std::floor(dotX)) - 8);

    const QColor nameColor(0xE6, 0xE9, 0xEF);
    if (nameRight > nameLeft) {
        const QString name = index.data(Qt::DisplayRole).toString();
        const QString shown = shownName(painter->fontMetrics(), name, nameRight - nameLeft);
        painter->setPen(nameColor);
        painter->drawText(QRect(nameLeft, r.top(), nameRight - nameLeft, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, shown);
    }

    if (failed) {
        painter->setPen(QPen(nameColor, 1));
        painter->setBrush(QColor(0xE5, 0x53, 0x4B));
        painter->drawEllipse(QPointF(dotX, centreY), 3, 3);
    }

    if (!badge.isEmpty()) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(badgeBack);
        painter->drawRoundedRect(badgeRect, 8, 8);
        if (background) {
            const QPointF c = badgeRect.center();
            QPainterPath check;
            check.moveTo(c + QPointF(-4, 0));
            check.lineTo(c + QPointF(-1.2, 2.8));
            check.lineTo(c + QPointF(4, -2.8));
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(QColor(0x3F, 0xB2, 0x7F), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->drawPath(check);
        } else {
            painter->setFont(badgeFont);
            painter->setPen(badgeText);
            painter->drawText(badgeRect, Qt::AlignCenter, badge);
        }
    }
    painter->restore();
}
