#include "canvas/box/boxtool.h"

#include "shared/language.h"
#include "storage/annotation.h"

Annotation BoxTool::draftFor(const QRectF &rect) const
{
    Annotation draft;
    draft.kind = Annotation::Rect;
    draft.rect = rect;
    return draft;
}

QString BoxTool::nextCategoryText() const
{
    return translateText("下一个框的类别：%1");
}

QString BoxTool::hint() const
{
    return translateText("拖拽画框") + QStringLiteral(" · ") + translateText("Shift+拖框 在已有标注上新建");
}
