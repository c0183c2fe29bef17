#pragma once

#include "canvas/shapeitembase.h"

// An axis-aligned box: moved by dragging its inside, resized by eight handles when selected.
class BoxItem : public ShapeItemBase
{
    Q_OBJECT

public:
    enum { Type = UserType + 101 };
    static constexpr int kMoveHandle = 8;

    explicit BoxItem(const Annotation &annotation, QGraphicsItem *parent = nullptr);

    void setAnnotation(const Annotation &annotation) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    int type() const override { return Type; }

    // -1 none, 0..7 a resize handle (corners TL TR BL BR, then edges T B L R), 8 inside.
    int handleAt(const QPointF &pos) const;
    static QPointF handlePosition(const QRectF &rect, int handle);

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    QRectF frameRect() const;   // the rect grown by the 4-pixel outline margin
    QRectF handleHitRect(const QRectF &rect, int handle) const;
    QRectF draggedRect(const QPointF &delta) const;

    int m_dragHandle = -1;
    QRectF m_startRect;
};
