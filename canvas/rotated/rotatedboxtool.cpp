#include "canvas/rotated/rotatedboxtool.h"

#include "shared/language.h"
#include "storage/annotation.h"

Annotation RotatedBoxTool::draftFor(const QRectF &rect) const
{
    Annotation draft;
    draft.kind = Annotation::Rotated;
    draft.points = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
    draft.rect = rect;
    return draft;
}

QString RotatedBoxTool::hint() const
{
    return translateText("拖出框后用上方手柄或 Z / X 旋转（Shift 每次15°）");
}

QString RotatedBoxTool::nextCategoryText() const
{
    return translateText("下一个旋转框的类别：%1");
}
