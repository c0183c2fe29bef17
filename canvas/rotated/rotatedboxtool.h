#pragma once

#include "canvas/dragboxtool.h"

// Draws a rotated box as an upright box dragged from corner to corner; it turns afterwards
// (its handle, Z and X).
class RotatedBoxTool : public DragBoxTool
{
public:
    using DragBoxTool::DragBoxTool;

    QString hint() const override;
    QString nextCategoryText() const override;

protected:
    Annotation draftFor(const QRectF &rect) const override;
};
