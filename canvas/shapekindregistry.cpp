#include "canvas/shapekindregistry.h"

#include "canvas/annotationscene.h"
#include "canvas/box/boxitem.h"
#include "canvas/box/boxtool.h"
#include "canvas/polygon/polygontool.h"
#include "canvas/polygon/polyitem.h"
#include "canvas/rotated/rotatedboxitem.h"
#include "canvas/rotated/rotatedboxtool.h"

namespace {

template <typename Item>
ShapeItemBase *makeItem(const Annotation &a)
{
    return new Item(a);
}

template <typename Tool>
std::unique_ptr<ShapeTool> makeTool(AnnotationScene *scene)
{
    return std::make_unique<Tool>(scene);
}

const std::array<CanvasShapeKind, 3> kKinds{{
    {Annotation::Rect, AnnotationScene::RectMode, BoxItem::Type, makeItem<BoxItem>, makeTool<BoxTool>},
    {Annotation::Polygon, AnnotationScene::PolygonMode, PolyItem::Type, makeItem<PolyItem>, makeTool<PolygonTool>},
    {Annotation::Rotated, AnnotationScene::RotatedMode, RotatedBoxItem::Type, makeItem<RotatedBoxItem>,
     makeTool<RotatedBoxTool>},
}};

} // namespace

const std::array<CanvasShapeKind, 3> &canvasShapeKinds()
{
    return kKinds;
}

ShapeItemBase *createShapeItem(const Annotation &a)
{
    for (const CanvasShapeKind &row : kKinds) {
        if (row.kind == a.kind)
            return row.createItem(a);
    }
    return kKinds.front().createItem(a);
}

std::unique_ptr<ShapeTool> createShapeTool(int mode, AnnotationScene *scene)
{
    for (const CanvasShapeKind &row : kKinds) {
        if (row.mode == mode)
            return row.createTool(scene);
    }
    return nullptr;
}

bool isShapeItemType(int type)
{
    for (const CanvasShapeKind &row : kKinds) {
        if (row.itemType == type)
            return true;
    }
    return false;
}
