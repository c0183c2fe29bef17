#pragma once

#include "canvas/shapeitembase.h"

#include <QPolygonF>

// A polygon: moved by dragging its inside, reshaped by dragging a vertex when selected.
class PolyItem : public ShapeItemBase
{
    Q_OBJECT

public:
    enum { Type = UserType + 102 };
    static constexpr int kMoveAll = 1000000;

    explicit PolyItem(const Annotation &annotation, QGraphicsItem *parent = nullptr);

    void setAnnotation(const Annotation &annotation) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    int type() const override { return Type; }

    // Index of the vertex within 5 screen pixels of pos on a selected polygon, else -1.
    int vertexAt(const QPointF &pos) const;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    QPolygonF polygon() const { return QPolygonF(m_ann.points); }
    QList<QPointF> draggedPoints(const QPointF &scenePos) const;

    int m_dragIndex = -2;
    QPolygonF m_startPoints;
};
