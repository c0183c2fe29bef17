#pragma once

#include <QList>
#include <QPointF>
#include <QString>

class AnnotationScene;
class QGraphicsRectItem;

// How the shapes of one kind are drawn: the scene hands the tool of its mode the left-button
// gestures on the image and the tool ends a drawing with AnnotationScene::shapeDrafted. A tool
// owns the preview items it adds to the scene.
class ShapeTool
{
public:
    explicit ShapeTool(AnnotationScene *scene) : m_scene(scene) {}
    virtual ~ShapeTool() = default;
    ShapeTool(const ShapeTool &) = delete;
    ShapeTool &operator=(const ShapeTool &) = delete;

    // A left press with these modifiers draws instead of grabbing the shape under it.
    virtual bool pressDraws(Qt::KeyboardModifiers modifiers) const = 0;
    // A left press on the image. False leaves it to the scene: the shape under it takes it.
    virtual bool press(const QPointF &pos, Qt::KeyboardModifiers modifiers) = 0;
    // pos is clamped to the image. False when no drawing follows the mouse.
    virtual bool move(const QPointF &pos) = 0;
    virtual bool release(const QPointF &pos) = 0;
    virtual bool doubleClick(const QPointF &) { return false; }
    // Enter, or the editor's request to complete: drafts the shape if it can. False when
    // there was nothing to complete.
    virtual bool finish() { return false; }
    // Drops the drawing in progress without a word; the scene clears the hint.
    virtual void cancel() = 0;
    virtual bool isDrawing() const = 0;
    // The points placed so far, for a kind drawn point by point.
    virtual QList<QPointF> draftPoints() const { return {}; }
    // The tool's line of the canvas hint, translated.
    virtual QString hint() const = 0;
    // The toast after a digit chose the next shape's category, naming this tool's kind (%1: the category).
    virtual QString nextCategoryText() const = 0;
    // Choosing this tool's mode again keeps the drawing in progress.
    virtual bool keepsDrawingOnReselect() const { return false; }

protected:
    AnnotationScene *m_scene;
};

// The translucent accent rectangle of a drag: a box being drawn, or (selection) the dashed band
// that selects. Added hidden to scene, which owns it.
QGraphicsRectItem *addBandItem(AnnotationScene *scene, bool selection);
