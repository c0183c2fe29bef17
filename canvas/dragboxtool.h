#pragma once

#include "canvas/shapetool.h"

#include <QRectF>

struct Annotation;

// Draws by dragging an upright rectangle from one corner to the other; what shape the rectangle
// becomes is the kind's own (draftFor). Shift draws whatever lies under the press: a shape that
// starts on another one (people in front of cars, crowds) cannot be drawn otherwise.
class DragBoxTool : public ShapeTool
{
public:
    explicit DragBoxTool(AnnotationScene *scene) : ShapeTool(scene) {}
    ~DragBoxTool() override;

    bool pressDraws(Qt::KeyboardModifiers modifiers) const override;
    bool press(const QPointF &pos, Qt::KeyboardModifiers modifiers) override;
    bool move(const QPointF &pos) override;
    bool release(const QPointF &pos) override;
    void cancel() override;
    bool isDrawing() const override { return m_drawing; }

protected:
    // The drafted shape of a dragged rectangle, already inside the image.
    virtual Annotation draftFor(const QRectF &rect) const = 0;

private:
    bool m_drawing = false;
    QPointF m_start;
    QGraphicsRectItem *m_band = nullptr;
};
