#pragma once

#include <QStyledItemDelegate>

// Paints one category row: its number key (first nine rows), colour swatch, name and count, the
// eye that hides its shapes, the delete cross on hover, or the inline "delete with its
// annotations?" prompt with check and cross.
class CategoryDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int RowWidth = 270;
    static constexpr int RowHeight = 30;
    static constexpr int NumberedRows = 9;   // rows reachable by the keys 1-9
    static constexpr int NumberShift = 8;    // swatch and name move right to make room for the number

    // Hit zones, counted from the right edge of the row's rectangle.
    static constexpr int CheckZoneLeft = 48;   // the check mark: right - 48 <= x < right - 26
                                               // (the eye when the row is not asking)
    static constexpr int CrossZoneLeft = 26;   // the cross: x >= right - 26

    using QStyledItemDelegate::QStyledItemDelegate;

    // Where the delete question is written inside a row's rectangle.
    static QRectF promptBand(const QRect &row);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
