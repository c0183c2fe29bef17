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

    // Index of the vertex within 5 screen pixels of pos on a selected polygon, else -1; always
    // -1 on a polygon too detailed for vertex handles.
    int vertexAt(const QPointF &pos) const;

    // Above this many points a polygon is drawn at a level of detail for the zoom, without
    // vertex handles; its record keeps every point.
    static constexpr qsizetype kDetailPoints = 2000;
    // Points drawn at most for one polygon at any zoom.
    static constexpr qsizetype kMaxDrawnPoints = 2048;
    // The outline as painted at the current zoom: the record's points, or fewer when detailed.
    QPolygonF drawnOutline() const;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    QPolygonF polygon() const { return QPolygonF(m_ann.points); }
    QList<QPointF> draggedPoints(const QPointF &scenePos) const;

    bool detailed() const { return m_ann.points.size() > kDetailPoints; }
    QRectF pointBounds() const;

    int m_dragIndex = -2;
    QPolygonF m_startPoints;

    // Derived from the record's points, renewed when they are another list. Holding the list
    // keeps its buffer alive, so an edit of the points always shows as a different buffer.
    struct Detail {
        QList<QPointF> source;
        QRectF bounds;
        int level = 0;           // zoom level of outline: the cell is 2^-level scene units
        bool outlineKnown = false;
        QPolygonF outline;
    };
    mutable Detail m_detail;
};
