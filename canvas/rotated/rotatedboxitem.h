#pragma once

#include "canvas/shapeitembase.h"
#include "storage/rotatedbox.h"

// A rotated box: moved by dragging its inside, resized along its own axes by eight handles and
// turned by the handle above its top edge (Shift: 15 degree steps) when selected.
class RotatedBoxItem : public ShapeItemBase
{
    Q_OBJECT

public:
    enum { Type = UserType + 104 };
    static constexpr int kMoveHandle = 8;
    static constexpr int kTurnHandle = 9;
    // Screen pixels from the top edge to the turning handle.
    static constexpr double kTurnReach = 24;

    explicit RotatedBoxItem(const Annotation &annotation, QGraphicsItem *parent = nullptr);

    void setAnnotation(const Annotation &annotation) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    int type() const override { return Type; }

    // -1 none, 0..7 a resize handle (corners TL TR BL BR, then edges T B L R, in the box's own
    // axes), 8 inside, 9 the turning handle.
    int handleAt(const QPointF &pos) const;
    // Where a handle is, in image pixels.
    QPointF handleScenePosition(int handle) const;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    RotatedFrame frame() const { return RotatedFrame::fromCorners(m_ann.points); }
    QPolygonF outline() const;
    QRectF frameBounds() const;   // corners and turning handle, grown by the outline margin
    QList<QPointF> draggedCorners(const QPointF &scenePos, Qt::KeyboardModifiers modifiers) const;

    int m_dragHandle = -1;
    RotatedFrame m_startFrame;
};
