#pragma once

#include <QStyledItemDelegate>

// Paints one annotation row: colour swatch, name, size or point count with a shape icon,
// confidence, and the badge of an unconfirmed model result.
class ObjectDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int RowWidth = 270;
    static constexpr int RowHeight = 34;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The 7x7 outline of a box or a polygon inside `square`.
    static void drawShapeIcon(QPainter *painter, const QRectF &square, bool polygon);
};
