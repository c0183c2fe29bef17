#pragma once

#include "canvas/shapetool.h"

class PolyDraftItem;

// Draws a polygon point by point; a double click, Enter or a click on the first point closes it.
class PolygonTool : public ShapeTool
{
public:
    explicit PolygonTool(AnnotationScene *scene);
    ~PolygonTool() override;

    bool pressDraws(Qt::KeyboardModifiers modifiers) const override;
    bool press(const QPointF &pos, Qt::KeyboardModifiers modifiers) override;
    bool move(const QPointF &pos) override;
    bool release(const QPointF &) override { return false; }
    bool doubleClick(const QPointF &pos) override;
    bool finish() override;
    void cancel() override;
    QString hint() const override;
    QString nextCategoryText() const override;
    bool isDrawing() const override { return !m_points.isEmpty(); }
    QList<QPointF> draftPoints() const override { return m_points; }
    bool keepsDrawingOnReselect() const override { return true; }

private:
    void addPoint(const QPointF &pos);
    void deleteDraftItem();

    QList<QPointF> m_points;
    PolyDraftItem *m_draftItem = nullptr;
};
