#pragma once

#include "canvas/shapetool.h"

class QGraphicsRectItem;

// Draws a box by dragging from one corner to the other.
class BoxTool : public ShapeTool
{
public:
    explicit BoxTool(AnnotationScene *scene);
    ~BoxTool() override;

    bool pressDraws(Qt::KeyboardModifiers modifiers) const override;
    bool press(const QPointF &pos, Qt::KeyboardModifiers modifiers) override;
    bool move(const QPointF &pos) override;
    bool release(const QPointF &pos) override;
    void cancel() override;
    QString hint() const override;
    QString nextCategoryText() const override;
    bool isDrawing() const override { return m_drawing; }

private:
    bool m_drawing = false;
    QPointF m_start;
    QGraphicsRectItem *m_band = nullptr;
};
