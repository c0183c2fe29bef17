#include "ui/shortcutdelegate.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kEdgeInset = 12;
constexpr int kChipPadding = 18;
constexpr int kChipGap = 6;
constexpr int kChipHeight = 22;

const QColor kSelected(0x1C, 0x3A, 0x63);
const QColor kHover(0x2B, 0x30, 0x3B);
const QColor kOddRow(255, 255, 255, 6);
const QColor kChipBorder(0x3A, 0x41, 0x50);
const QColor kChipFill(0x33, 0x39, 0x47);
const QColor kText(0xE6, 0xE9, 0xEF);

} // namespace

ShortcutDelegate::ShortcutDelegate(int keyColumnWidth, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_keyColumnWidth(keyColumnWidth)
{
}

QStringList ShortcutDelegate::splitKeys(const QString &keys)
{
    QStringList chips;
    const QStringList parts = keys.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        const QString chip = part.trimmed();
        if (!chip.isEmpty())
            chips.append(chip);
    }
    return chips;
}

int ShortcutDelegate::chipsWidth(const QFontMetrics &metrics, const QString &keys)
{
    const QStringList chips = splitKeys(keys);
    if (chips.isEmpty())
        return 0;
    int width = 0;
    for (const QString &chip : chips)
        width += metrics.horizontalAdvance(chip) + kChipPadding + kChipGap;
    return width - kChipGap;
}

int ShortcutDelegate::keyColumnWidth(const QFontMetrics &metrics, const QStringList &keyTexts)
{
    int widest = 0;
    for (const QString &keys : keyTexts)
        widest = std::max(widest, chipsWidth(metrics, keys));
    return widest + 8;
}

int ShortcutDelegate::descriptionWidth(int rowWidth, int keyColumnWidth)
{
    return std::max(0, rowWidth - keyColumnWidth - 30);
}

int ShortcutDelegate::rowHeight(const QFontMetrics &metrics, const QString &description, int textWidth)
{
    if (textWidth <= 0)
        return kRowHeight;
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, textWidth, 10000), Qt::TextWordWrap, description);
    return std::max(kRowHeight, wrapped.height() + 8);
}

QSize ShortcutDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    int width = option.rect.width();
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        width = view->viewport()->width();
    return QSize(width, rowHeight(QFontMetrics(option.font), index.data(Qt::UserRole).toString(),
                                  descriptionWidth(width, m_keyColumnWidth)));
}

void ShortcutDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect row = option.rect;
    const bool rtl = option.direction == Qt::RightToLeft;

    painter->save();
    if (option.state & QStyle::State_Selected)
        painter->fillRect(row, kSelected);
    else if (option.state & QStyle::State_MouseOver)
        painter->fillRect(row, kHover);
    else if (index.row() % 2 == 1)
        painter->fillRect(row, kOddRow);

    painter->setFont(option.font);
    painter->setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(option.font);
    const int chipTop = row.top() + (row.height() - kChipHeight) / 2;
    int edge = rtl ? row.right() + 1 - kEdgeInset : row.left() + kEdgeInset;
    const QStringList chips = splitKeys(index.data(Qt::DisplayRole).toString());
    for (const QString &chip : chips) {
        const int width = metrics.horizontalAdvance(chip) + kChipPadding;
        const QRect chipRect(rtl ? edge - width : edge, chipTop, width, kChipHeight);
        // Half-pixel inset so the 1 px border falls on whole pixels.
        painter->setPen(kChipBorder);
        painter->setBrush(kChipFill);
        painter->drawRoundedRect(QRectF(chipRect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter->setPen(kText);
        painter->drawText(chipRect, Qt::AlignCenter, chip);
        edge = rtl ? edge - width - kChipGap : edge + width + kChipGap;
    }

    const int textWidth = descriptionWidth(row.width(), m_keyColumnWidth);
    const int textLeft = rtl ? row.left() + 6 : row.left() + kEdgeInset + m_keyColumnWidth + 18;
    const QRect textRect(textLeft, row.top(), textWidth, row.height());
    painter->setPen(kText);
    // Absolute: the painter would otherwise mirror the alignment a second time.
    const Qt::Alignment side = rtl ? Qt::AlignRight : Qt::AlignLeft;
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignAbsolute | Qt::TextWordWrap | side,
                      index.data(Qt::UserRole).toString());
    painter->restore();
}
