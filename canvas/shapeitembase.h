#pragma once

#include "canvas/devicestamp.h"
#include "canvas/textboxstamp.h"
#include "storage/annotation.h"

#include <QFont>
#include <QGraphicsObject>
#include <QStaticText>

#include <functional>

class QGraphicsSceneMouseEvent;
class QPainter;

// The on-canvas form of one Annotation. Items never touch the dataset: an edit gesture ends with
// editFinished(before, after) and the owner decides what becomes of it. Only AnnotationScene
// creates, updates and deletes items. Geometry is in image pixels; decorations in screen pixels.
class ShapeItemBase : public QGraphicsObject
{
    Q_OBJECT

public:
    explicit ShapeItemBase(const Annotation &annotation, QGraphicsItem *parent = nullptr);

    quint32 id() const { return m_ann.id; }
    Annotation annotation() const { return m_ann; }
    virtual void setAnnotation(const Annotation &annotation) = 0;
    virtual void setViewScale(double s) { storeViewScale(s); }
    // The text of the tag at the shape's corner: its label, and the difficult mark in the
    // interface's language.
    QString tagText() const;

    // Screen-pixel constants shared by hit tests and painting.
    static constexpr double kTagFontPixels = 11;
    static constexpr double kBadgeFontPixels = 10;
    static constexpr double kHandleSize = 6;

signals:
    void editFinished(uint id, const Annotation &before, const Annotation &after);
    void confirmRequested(uint id);

protected:
    // Shared by every kind: leaving clears the hovered part, a double click confirms a model
    // result, a change of selection or visibility repaints (and ends a hidden drag).
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

    // Zoom used for hit tolerances: n screen pixels are n / hitScale() scene units.
    double hitScale() const { return qMax(m_scale, 0.1); }
    // Zoom used for painting decorations.
    double paintScale() const { return m_scale > 0 ? m_scale : 1.0; }
    // Stores s (<= 0 taken as 1); returns false when it equals the stored value.
    bool storeViewScale(double s);
    // The scene's image rectangle, or an invalid rect when there is nothing to clamp to.
    QRectF imageBounds() const;
    QColor shapeColor() const;
    void selectOnly(bool keepOthers);
    QPen outlinePen() const;

    // Gesture bookkeeping shared by boxes and polygons; each shape keeps what it drags (handle or
    // vertex) and the geometry at the press. The QGraphicsItem handlers of both shapes call these.
    //
    // Handles right presses (select only this item) and other buttons, and ignores a left press
    // that does not hit the shape; returns true when a left-button gesture has started.
    bool startGesture(QGraphicsSceneMouseEvent *event, bool hit);
    // Once the drag has passed its threshold, reshape(scene position) stores the new geometry
    // in m_ann, recomputed from the press state.
    void dragGesture(QGraphicsSceneMouseEvent *event, const std::function<void(const QPointF &)> &reshape);
    // geometry is the member of Annotation that holds the shape (rect or points).
    template <typename Geometry>
    void replaceAnnotation(const Annotation &annotation, Geometry Annotation::*geometry);
    template <typename Geometry>
    void finishGesture(QGraphicsSceneMouseEvent *event, Geometry Annotation::*geometry);
    // Hover state: a changed handle or vertex under the mouse repaints; the cursor is set only
    // when it differs.
    void setHovered(int part);
    void showCursor(Qt::CursorShape shape);
    // A press here would draw over the shape (AnnotationScene::pressDraws): no handle is offered.
    bool pressDrawsHere(Qt::KeyboardModifiers modifiers) const;

    // Decorations, drawn with the painter already in screen pixels (scaled by 1 / s).
    void paintTag(QPainter *painter, const QRectF &screenRect, bool elideToRect) const;
    void paintBadge(QPainter *painter, const QRectF &screenRect) const;
    static void paintHandle(QPainter *painter, const QPointF &centre, bool hovered);

    // Strokes the outline through stroke(painter), or copies the pixels it gave last time.
    void paintOutline(QPainter *painter, const QRectF &bounds, const std::function<void(QPainter *)> &stroke);

    Annotation m_ann;     // held record
    Annotation m_press;   // record at the press that started a gesture
    double m_scale = 1.0; // screen pixels per image pixel
    bool m_dragging = false;   // a left-button gesture is in progress
    bool m_dragMoved = false;  // it has passed the drag threshold
    QPointF m_pressScenePos;
    int m_hoverPart = -1;      // the handle or vertex under the mouse, -1 none

    // Scene rect of the tag and badge of a shape whose outline has the bounding rect sceneRect.
    QRectF decorationBounds(const QRectF &sceneRect, bool elideToRect) const;

private:
    // Laid-out decoration text. Shaping text on every repaint would dominate the repaint of a
    // busy image, so each item keeps its last layout until text, font or room change.
    struct TextCache {
        QFont baseFont;      // font the decoration font was derived from
        QFont font;          // decoration font
        QFont laidOutFont;   // font of the current layout
        QString text;
        double number = -1;  // badge: the confidence the text shows
        int maxWidth = -1;
        QStaticText shown;
        qreal advance = 0;
        qreal height = 0;
    };
    void layoutText(TextCache &cache, const QString &text, int maxWidth) const;
    QRectF tagRect(const QRectF &screenRect, bool elideToRect, const QFont &baseFont) const;
    QRectF badgeRect(const QRectF &screenRect) const;

    mutable TextCache m_tagCache;
    mutable TextCache m_badgeCache;
    DeviceStamp m_outlineStamp;
    Annotation m_outlineShape;   // the record m_outlineStamp was last asked to show
    mutable TextBoxStamp m_tagStamp;
    mutable TextBoxStamp m_badgeStamp;
    mutable QFont m_paintFont;   // the painter's font at the last paint; sizes the tag until then
    mutable bool m_paintFontKnown = false;
};
