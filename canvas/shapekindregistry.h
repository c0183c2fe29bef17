#pragma once

#include "storage/annotation.h"

#include <array>
#include <memory>

class AnnotationScene;
class ShapeItemBase;
class ShapeTool;

// The canvas side of each shape kind (its folder under canvas/): the item that shows a record
// and the tool that draws a new one. A new kind is one row here, beside its row in
// storage/shapekinds.cpp.
struct CanvasShapeKind
{
    Annotation::Kind kind;
    int mode;       // the AnnotationScene::Mode that draws it
    int itemType;   // QGraphicsItem::type() of its item
    ShapeItemBase *(*createItem)(const Annotation &);
    std::unique_ptr<ShapeTool> (*createTool)(AnnotationScene *);
};

const std::array<CanvasShapeKind, 3> &canvasShapeKinds();
// The item of a's kind; a kind without a row gets a box.
ShapeItemBase *createShapeItem(const Annotation &a);
// The tool of mode; null for a mode that draws nothing (selecting).
std::unique_ptr<ShapeTool> createShapeTool(int mode, AnnotationScene *scene);
bool isShapeItemType(int type);
