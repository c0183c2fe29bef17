#pragma once

#include "canvas/dragboxtool.h"

// Draws a box by dragging from one corner to the other.
class BoxTool : public DragBoxTool
{
public:
    using DragBoxTool::DragBoxTool;

    QString hint() const override;
    QString nextCategoryText() const override;

protected:
    Annotation draftFor(const QRectF &rect) const override;
};
