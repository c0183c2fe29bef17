#pragma once

#include "storage/annotation.h"
#include "storage/labelmefile.h"

#include <QGraphicsScene>
#include <QHash>
#include <QImage>
#include <QSet>

#include <memory>
#include <optional>

class KeptShapesItem;
class QGraphicsPathItem;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class ShapeItemBase;
class ShapeTool;

// The model of the canvas: the image, one shape item per annotation id, and the transient drawing
// state. It never writes files and never records undo steps: every change to a shape comes in
// through applyState, and every user gesture leaves as a signal. Each mode but selecting has the
// drawing tool of a shape kind (canvas/shapekindregistry.h).
class AnnotationScene : public QGraphicsScene
{
    Q_OBJECT

public:
    // A mode that draws is a shape kind's; its tool is found through the kind registry.
    enum Mode { SelectMode = 0, RectMode = 1, PolygonMode = 2, RotatedMode = 3 };

    explicit AnnotationScene(QObject *parent = nullptr);
    ~AnnotationScene() override;

    // logicalSize: the image's size in image pixels when image is a reduced copy of it; the
    // copy is then drawn over the whole extent. Invalid: the image is shown at its own size.
    void setImage(const QImage &image, const QSize &logicalSize = QSize());
    QImage image() const { return m_image; }
    QRectF imageRect() const { return m_imageRect; }
    void clear();

    void setAnnotations(const QList<Annotation> &annotations);
    // Shapes of the image's file that are kept as they are: drawn for reference only, hidden with
    // the others, never selected, moved or deleted (they are no annotations of the scene).
    void setKeptShapes(const QList<KeptShape> &shapes);
    QList<KeptShape> keptShapes() const;
    bool keptShapesShown() const;
    // The single mutation entry point: no value removes the shape of id.
    void applyState(uint id, const std::optional<Annotation> &state);
    QList<Annotation> annotations() const;   // ascending id order
    int allocateId();

    int mode() const { return m_mode; }
    void setMode(int mode);
    void cancelDrawing();
    bool isInteracting() const;
    // Completes the shape being drawn point by point, if any.
    void finishDrawing();
    // A left press with these modifiers on a shape draws (a box, a polygon point) instead of
    // grabbing the shape: the mode's tool decides; select mode has nothing to draw.
    bool pressDraws(Qt::KeyboardModifiers modifiers) const;
    // "The next box's category: %1", in the words of the mode's tool; any shape in select mode.
    QString nextCategoryText() const;
    // What the mode's tool adds to the canvas hint; empty in select mode.
    QString modeHint() const;

    uint selectedId() const;
    QList<uint> selectedIds() const;
    bool hasSelection() const { return !selectedIds().isEmpty(); }
    // pointed: the user chose the shape (a click, a panel row, A / D); otherwise it is selected as
    // a side effect (just drawn, confirmed's successor, a menu's target).
    void selectId(uint id, bool ensureVisible, bool pointed = false);
    // A selection the user made by pointing or with the selection keys: only it takes the digits
    // and the arrows; any other selection leaves them to the next shape's category and the images.
    bool hasPointedSelection() const { return m_pointedSelection && hasSelection(); }

    int pendingCount() const;
    int confirmedCount() const { return int(m_items.size()) - pendingCount(); }
    // shownOnly: without the shapes that are hidden from view.
    QList<uint> pendingIdsInReadingOrder(bool shownOnly = false) const;

    // What is hidden from view: every shape, or those of some categories. A view setting only:
    // records are untouched, and a hidden shape cannot be selected, grabbed or hit (a press on it
    // acts as on the bare image). It holds for every image until it is changed.
    void setAllHidden(bool hidden);
    bool allHidden() const { return m_allHidden; }
    void setLabelHidden(const QString &label, bool hidden);
    QSet<QString> hiddenLabels() const { return m_hiddenLabels; }
    bool hidesAnything() const { return m_allHidden || !m_hiddenLabels.isEmpty(); }
    bool isHidden(const Annotation &annotation) const;
    // Makes shapes of label visible again (also ending "all hidden"), for a shape the user has
    // just drawn or named.
    void revealLabel(const QString &label);

    // The shape just drawn, shown in the drawing colour while its category is asked for: until
    // named it is a draft, no shape of the scene. endNaming removes it.
    void showNaming(const Annotation &draft);
    void endNaming();
    // The scene rect of the draft being named; null when none.
    QRectF namingRect() const;

    void nudgeSelected(int dx, int dy);
    // Turns the selected shapes that turn (rotated boxes) by degrees, clockwise on screen, about
    // their centres; reported like a nudge.
    void turnSelected(double degrees);
    double viewScale() const;
    ShapeItemBase *shapeItemAt(const QPointF &scenePos) const;
    ShapeItemBase *shapeItem(uint id) const { return m_items.value(id); }
    QList<QPointF> draftPoints() const;
    QPointF clampedToImage(const QPointF &p) const;

public slots:
    void setViewScale(double s);

signals:
    void annotationsChanged();
    void selectedIdChanged(uint id);
    void shapeDrafted(const Annotation &draft);
    void annotationEdited(uint id, const Annotation &before, const Annotation &after);
    void annotationNudged(uint id, const Annotation &before, const Annotation &after);
    void confirmRequested(uint id);
    void itemContextRequested(uint id, const QPoint &globalPos, const QPointF &scenePos);
    void statusHint(const QString &text);
    void visibilityChanged();

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void drawBackground(QPainter *painter, const QRectF &rect) override;

private:
    // Scene rect that the opaque image surely paints over under the view transform, or null.
    QRectF coveredByImage(const QTransform &view) const;
    void finishRubberBand(const QPointF &releasePos);
    void applyVisibility();

    int m_mode = SelectMode;
    QImage m_image;
    QRectF m_imageRect;
    QGraphicsPixmapItem *m_pixmapItem = nullptr;
    QHash<uint, ShapeItemBase *> m_items;
    int m_nextId = 1;
    bool m_batchUpdate = false;
    bool m_allHidden = false;
    QSet<QString> m_hiddenLabels;

    std::unique_ptr<ShapeTool> m_tool;   // the drawing tool of the mode; null in select mode

    bool m_selecting = false;
    bool m_pointedSelection = false;
    bool m_selectAdditive = false;
    QPointF m_selectStart;
    QList<uint> m_selectBase;
    QGraphicsRectItem *m_selectRectItem = nullptr;
    QGraphicsPathItem *m_namingItem = nullptr;
    KeptShapesItem *m_keptItem = nullptr;
};
