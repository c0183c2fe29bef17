#pragma once

#include "canvas/shapetool.h"

class QGraphicsRectItem;

// Draws a rotated box as an upright box dragged from corner to corner; it turns afterwards
// (its handle, Z and X).
class RotatedBoxTool : public ShapeTool
{
public:
    explicit RotatedBoxTool(AnnotationScene *scene);
    ~RotatedBoxTool() override;

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
