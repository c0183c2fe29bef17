#include "canvas/annotationscene.h"

#include "canvas/keptshapesitem.h"
#include "canvas/shapeitembase.h"
#include "canvas/shapekindregistry.h"
#include "canvas/shapetool.h"
#include "shared/language.h"
#include "shared/theme.h"
#include "storage/annotationgeometry.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"

#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QPolygonF>
#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

AnnotationScene::AnnotationScene(QObject *parent)
    : QGraphicsScene(parent)
{
    setBackgroundBrush(Theme::canvasBackground);
    connect(this, &QGraphicsScene::selectionChanged, this,
            [this] { emit selectedIdChanged(selectedId()); });
}

AnnotationScene::~AnnotationScene()
{
    // Items go with the scene; the map only must not be used by signals emitted meanwhile.
    m_batchUpdate = true;
    blockSignals(true);
}

void AnnotationScene::setImage(const QImage &image, const QSize &logicalSize)
{
    m_image = image;
    const QSize size = logicalSize.isValid() ? logicalSize : image.size();
    if (image.isNull() || size.isEmpty()) {
        m_imageRect = QRectF();
    } else {
        m_imageRect = QRectF(0, 0, size.width(), size.height());
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    if (!pixmap.isNull() && !qFuzzyCompare(pixmap.devicePixelRatio(), 1.0))
        pixmap.setDevicePixelRatio(1.0);
    if (!m_pixmapItem) {
        m_pixmapItem = addPixmap(pixmap);
        m_pixmapItem->setZValue(0);
        m_pixmapItem->setAcceptedMouseButtons(Qt::NoButton);
        m_pixmapItem->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    } else {
        m_pixmapItem->setPixmap(pixmap);
    }
    // A reduced copy of a large photo is stretched over the photo's full extent by the item's
    // transform. Not by the pixmap's device pixel ratio: at exactly 100 % the raster engine blits
    // such a pixmap at its own pixel size, a quarter of the image in its top-left corner.
    const bool stretched = !image.isNull() && !size.isEmpty() && image.size() != size;
    m_pixmapItem->setTransform(stretched ? QTransform::fromScale(double(size.width()) / image.width(),
                                                                 double(size.height()) / image.height())
                                         : QTransform());
    setSceneRect(m_imageRect.isValid() ? m_imageRect.adjusted(-200, -200, 200, 200) : QRectF());
}

void AnnotationScene::clear()
{
    setAnnotations({});
    delete m_keptItem;
    m_keptItem = nullptr;
    delete m_pixmapItem;
    m_pixmapItem = nullptr;
    m_image = QImage();
    m_imageRect = QRectF();
    setSceneRect(QRectF());
}

void AnnotationScene::setAnnotations(const QList<Annotation> &annotations)
{
    m_batchUpdate = true;
    clearSelection();
    m_pointedSelection = false;
    cancelDrawing();
    const QList<ShapeItemBase *> old = m_items.values();
    m_items.clear();
    for (ShapeItemBase *item : old)
        delete item;   // leaves the scene in its destructor
    m_items.reserve(annotations.size());
    for (const Annotation &a : annotations) {
        const uint id = a.id != 0 ? a.id : uint(allocateId());
        applyState(id, a);
    }
    m_batchUpdate = false;
    emit annotationsChanged();
    emit selectedIdChanged(0);
}

void AnnotationScene::setKeptShapes(const QList<KeptShape> &shapes)
{
    if (!m_keptItem) {
        if (shapes.isEmpty())
            return;
        m_keptItem = new KeptShapesItem;
        m_keptItem->setViewScale(viewScale());
        addItem(m_keptItem);
    }
    m_keptItem->setShapes(shapes);
    m_keptItem->setHiddenLabels(m_hiddenLabels);
    m_keptItem->setVisible(!m_allHidden);
}

QList<KeptShape> AnnotationScene::keptShapes() const
{
    return m_keptItem ? m_keptItem->shapes() : QList<KeptShape>();
}

bool AnnotationScene::keptShapesShown() const
{
    return m_keptItem && m_keptItem->isVisible() && !m_keptItem->shapes().isEmpty();
}

void AnnotationScene::applyState(uint id, const std::optional<Annotation> &state)
{
    ShapeItemBase *item = m_items.value(id);
    if (!state) {
        if (!item)
            return;
        if (item->isSelected())
            item->setSelected(false);
        m_items.remove(id);
        removeItem(item);
        delete item;
        if (!m_batchUpdate)
            emit annotationsChanged();
        return;
    }

    Annotation copy = *state;
    copy.id = id;
    if (item) {
        // Annotation's == compares geometry with the toolkit's fuzzy point equality.
        if (item->annotation() != copy) {
            item->setAnnotation(copy);
            if (hidesAnything())
                item->setVisible(!isHidden(copy));   // a new label may be hidden, or shown
            if (!m_batchUpdate)
                emit annotationsChanged();
        }
        return;
    }

    item = createShapeItem(copy);
    item->setViewScale(viewScale());
    if (hidesAnything())
        item->setVisible(!isHidden(copy));
    connect(item, &ShapeItemBase::editFinished, this, &AnnotationScene::annotationEdited);
    connect(item, &ShapeItemBase::confirmRequested, this, &AnnotationScene::confirmRequested);
    addItem(item);
    m_items.insert(id, item);
    if (id >= uint(m_nextId))
        m_nextId = int(id) + 1;
    if (!m_batchUpdate)
        emit annotationsChanged();
}

QList<Annotation> AnnotationScene::annotations() const
{
    QList<uint> ids = m_items.keys();
    std::sort(ids.begin(), ids.end());
    QList<Annotation> result;
    result.reserve(ids.size());
    for (uint id : ids)
        result.append(m_items.value(id)->annotation());
    return result;
}

int AnnotationScene::allocateId()
{
    return m_nextId++;
}

void AnnotationScene::setMode(int mode)
{
    if (mode == m_mode && m_tool && m_tool->keepsDrawingOnReselect())
        return;
    cancelDrawing();
    if (mode != m_mode || !m_tool) {
        m_mode = mode;
        m_tool = createShapeTool(mode, this);
    }
}

bool AnnotationScene::pressDraws(Qt::KeyboardModifiers modifiers) const
{
    return m_tool && m_tool->pressDraws(modifiers);
}

QString AnnotationScene::nextCategoryText() const
{
    return m_tool ? m_tool->nextCategoryText() : translateText("下一个形状的类别：%1");
}

QString AnnotationScene::modeHint() const
{
    return m_tool ? m_tool->hint() : QString();
}

bool AnnotationScene::isInteracting() const
{
    return m_selecting || (m_tool && m_tool->isDrawing());
}

void AnnotationScene::finishDrawing()
{
    if (m_tool)
        m_tool->finish();
}

QList<QPointF> AnnotationScene::draftPoints() const
{
    return m_tool ? m_tool->draftPoints() : QList<QPointF>();
}

void AnnotationScene::cancelDrawing()
{
    const bool wasInteracting = isInteracting();
    if (m_tool)
        m_tool->cancel();
    m_selecting = false;
    if (m_selectRectItem)
        m_selectRectItem->hide();
    if (wasInteracting) {
        emit statusHint(QString());
        if (!m_batchUpdate)
            update();
    }
}

uint AnnotationScene::selectedId() const
{
    const QList<QGraphicsItem *> selected = selectedItems();
    for (QGraphicsItem *item : selected) {
        if (isShapeItemType(item->type()))
            return static_cast<ShapeItemBase *>(item)->id();
    }
    return 0;
}

QList<uint> AnnotationScene::selectedIds() const
{
    QList<uint> ids;
    const QList<QGraphicsItem *> selected = selectedItems();
    for (QGraphicsItem *item : selected) {
        if (isShapeItemType(item->type()))
            ids.append(static_cast<ShapeItemBase *>(item)->id());
    }
    return ids;
}

void AnnotationScene::selectId(uint id, bool ensureVisible, bool pointed)
{
    clearSelection();
    m_pointedSelection = pointed;
    ShapeItemBase *item = id != 0 ? m_items.value(id) : nullptr;
    if (!item || !item->isVisible())
        return;
    item->setSelected(true);
    if (!ensureVisible || views().isEmpty())
        return;
    // Scrolls only for a shape that is not wholly on screen: the image stays still otherwise.
    QGraphicsView *view = views().first();
    const QRectF shown = view->mapToScene(view->viewport()->rect()).boundingRect();
    if (!shown.contains(item->sceneBoundingRect()))
        view->ensureVisible(item, 80, 80);
}

int AnnotationScene::pendingCount() const
{
    int count = 0;
    for (const ShapeItemBase *item : m_items) {
        if (item->annotation().pending == 1)
            ++count;
    }
    return count;
}

QList<uint> AnnotationScene::pendingIdsInReadingOrder(bool shownOnly) const
{
    struct Entry { uint id; QPointF centre; };
    QList<Entry> entries;
    for (const ShapeItemBase *item : m_items) {
        if (shownOnly && !item->isVisible())
            continue;
        const Annotation a = item->annotation();
        if (a.pending != 1)
            continue;
        entries.append({a.id, annotationBox(a).center()});
    }
    // Start from id order so that equal positions come out the same way every time.
    std::sort(entries.begin(), entries.end(), [](const Entry &l, const Entry &r) { return l.id < r.id; });
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &l, const Entry &r) {
        if (qFuzzyCompare(l.centre.y(), r.centre.y()))
            return l.centre.x() < r.centre.x();
        return l.centre.y() < r.centre.y();
    });
    QList<uint> ids;
    for (const Entry &e : entries)
        ids.append(e.id);
    return ids;
}

bool AnnotationScene::isHidden(const Annotation &annotation) const
{
    return m_allHidden || (!m_hiddenLabels.isEmpty() && m_hiddenLabels.contains(annotation.label));
}

void AnnotationScene::setAllHidden(bool hidden)
{
    if (hidden == m_allHidden)
        return;
    m_allHidden = hidden;
    applyVisibility();
}

void AnnotationScene::setLabelHidden(const QString &label, bool hidden)
{
    if (hidden == m_hiddenLabels.contains(label))
        return;
    if (hidden)
        m_hiddenLabels.insert(label);
    else
        m_hiddenLabels.remove(label);
    applyVisibility();
}

void AnnotationScene::revealLabel(const QString &label)
{
    if (!m_allHidden && !m_hiddenLabels.contains(label))
        return;
    m_allHidden = false;
    m_hiddenLabels.remove(label);
    applyVisibility();
}

void AnnotationScene::applyVisibility()
{
    // Hiding a shape also deselects it and ends a drag on it (the toolkit's rule for hidden items).
    for (ShapeItemBase *item : std::as_const(m_items))
        item->setVisible(!isHidden(item->annotation()));
    if (m_keptItem) {
        m_keptItem->setVisible(!m_allHidden);
        m_keptItem->setHiddenLabels(m_hiddenLabels);
    }
    emit visibilityChanged();
}

void AnnotationScene::showNaming(const Annotation &draft)
{
    QPolygonF outline(shapeKindRules(draft.kind).outline(draft));
    if (outline.isEmpty())
        outline = QPolygonF(draft.rect.normalized());
    QPainterPath path;
    path.addPolygon(outline);
    path.closeSubpath();
    if (!m_namingItem) {
        m_namingItem = new QGraphicsPathItem;
        QPen pen(Theme::accent, 2);
        pen.setCosmetic(true);
        pen.setDashPattern({4, 2});
        QColor fill = Theme::accent;
        fill.setAlpha(60);
        m_namingItem->setPen(pen);
        m_namingItem->setBrush(fill);
        m_namingItem->setZValue(1000);
        m_namingItem->setAcceptedMouseButtons(Qt::NoButton);
        addItem(m_namingItem);
    }
    m_namingItem->setPath(path);
    m_namingItem->show();
}

void AnnotationScene::endNaming()
{
    if (m_namingItem)
        m_namingItem->hide();
}

QRectF AnnotationScene::namingRect() const
{
    return m_namingItem && m_namingItem->isVisible() ? m_namingItem->path().boundingRect() : QRectF();
}

void AnnotationScene::nudgeSelected(int dx, int dy)
{
    const QList<uint> ids = selectedIds();
    for (uint id : ids) {
        ShapeItemBase *item = m_items.value(id);
        if (!item)
            continue;
        const Annotation before = item->annotation();
        Annotation after = before;
        shapeKindRules(after.kind).translate(after, QPointF(dx, dy));
        if (after.pending == 1)
            after.pending = 0;   // nudging a model result confirms it
        if (after == before)
            continue;
        applyState(id, after);
        emit annotationNudged(id, before, after);
    }
}

void AnnotationScene::turnSelected(double degrees)
{
    const QList<uint> ids = selectedIds();
    for (uint id : ids) {
        ShapeItemBase *item = m_items.value(id);
        if (!item || !storedShapeKind(item->annotation()).angle)
            continue;
        const Annotation before = item->annotation();
        Annotation after = before;
        RotatedFrame frame = RotatedFrame::fromCorners(after.points);
        frame.angle = std::fmod(frame.angle + degrees + 540.0, 360.0) - 180.0;
        after.points = frame.corners();
        after.rect = QPolygonF(after.points).boundingRect();
        if (after.pending == 1)
            after.pending = 0;
        applyState(id, after);
        emit annotationNudged(id, before, after);
    }
}

double AnnotationScene::viewScale() const
{
    if (views().isEmpty())
        return 1.0;
    const double m11 = views().first()->transform().m11();
    return m11 > 0 ? m11 : 1.0;
}

void AnnotationScene::setViewScale(double s)
{
    for (ShapeItemBase *item : std::as_const(m_items))
        item->setViewScale(s);
    if (m_keptItem)
        m_keptItem->setViewScale(s);
}

ShapeItemBase *AnnotationScene::shapeItemAt(const QPointF &scenePos) const
{
    const QList<QGraphicsItem *> hits = items(scenePos, Qt::IntersectsItemShape, Qt::DescendingOrder);
    for (QGraphicsItem *item : hits) {
        if (isShapeItemType(item->type()) && item->isVisible())
            return static_cast<ShapeItemBase *>(item);
    }
    return nullptr;
}

QRectF AnnotationScene::coveredByImage(const QTransform &view) const
{
    if (!m_pixmapItem || !m_pixmapItem->isVisible() || m_pixmapItem->effectiveOpacity() < 1
        || m_pixmapItem->pixmap().hasAlphaChannel()
        || m_pixmapItem->offset() != QPointF() || m_pixmapItem->sceneTransform().type() > QTransform::TxScale
        || m_pixmapItem->graphicsEffect() || view.type() > QTransform::TxScale
        || !(view.m11() > 0) || !(view.m22() > 0))
        return QRectF();
    const QRectF covered = m_imageRect.adjusted(2 / view.m11(), 2 / view.m22(), -2 / view.m11(),
                                                -2 / view.m22());
    return covered.isValid() ? covered : QRectF();
}

void AnnotationScene::drawBackground(QPainter *painter, const QRectF &rect)
{
    painter->fillRect(rect, Theme::canvasBackground);
    if (m_imageRect.isEmpty())
        return;

    // The grid lies only on the plain background (the image covers it), so RGB (154, 163, 178)
    // at alpha 31 is drawn as its opaque blend over the background, without antialiasing:
    // translucent hairlines cost the raster engine twenty times more.
    const QColor line(154, 163, 178);
    const QColor &bg = Theme::canvasBackground;
    auto blend = [](int over, int under) { return under + ((over - under) * 31 + 127) / 255; };
    QPen gridPen(QColor(blend(line.red(), bg.red()), blend(line.green(), bg.green()),
                        blend(line.blue(), bg.blue())), 1);
    gridPen.setCosmetic(true);
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(gridPen);
    painter->setBrush(Qt::NoBrush);
    const double s = viewScale();
    double g = 40;
    while (g * s < 8)
        g *= 2;
    const double x0 = std::floor(rect.left() / g) * g;
    const double y0 = std::floor(rect.top() / g) * g;
    if ((rect.right() - x0) / g < 400 && (rect.bottom() - y0) / g < 400) {
        // Over an opaque image the lines would only be painted over: they stop two screen
        // pixels inside its edge (edge pixels of the scaled image are blended, not covered).
        const QRectF covered = coveredByImage(painter->worldTransform());
        QVarLengthArray<QLineF, 256> lines;
        for (double x = x0; x <= rect.right(); x += g) {
            if (!(x > covered.left() && x < covered.right())) {
                lines.append(QLineF(x, rect.top(), x, rect.bottom()));
                continue;
            }
            if (rect.top() < covered.top())
                lines.append(QLineF(x, rect.top(), x, covered.top()));
            if (rect.bottom() > covered.bottom())
                lines.append(QLineF(x, covered.bottom(), x, rect.bottom()));
        }
        for (double y = y0; y <= rect.bottom(); y += g) {
            if (!(y > covered.top() && y < covered.bottom())) {
                lines.append(QLineF(rect.left(), y, rect.right(), y));
                continue;
            }
            if (rect.left() < covered.left())
                lines.append(QLineF(rect.left(), y, covered.left(), y));
            if (rect.right() > covered.right())
                lines.append(QLineF(covered.right(), y, rect.right(), y));
        }
        painter->drawLines(lines.constData(), int(lines.size()));
    }
    painter->setRenderHint(QPainter::Antialiasing, antialiased);

    QPen borderPen(QColor(0x3A, 0x41, 0x50), 1);
    borderPen.setCosmetic(true);
    painter->setPen(borderPen);
    painter->drawRect(m_imageRect);
}

// ---- gestures: drawing goes to the mode's tool, the rest selects --------------------------

QPointF AnnotationScene::clampedToImage(const QPointF &p) const
{
    if (!m_imageRect.isValid())
        return p;
    return QPointF(std::clamp(p.x(), m_imageRect.left(), m_imageRect.right()),
                   std::clamp(p.y(), m_imageRect.top(), m_imageRect.bottom()));
}

void AnnotationScene::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF pos = event->scenePos();
    if (event->button() != Qt::LeftButton || !m_imageRect.isValid() || !m_imageRect.contains(pos)) {
        QGraphicsScene::mousePressEvent(event);
        // A right press selects the menu's target, not a shape to relabel or nudge.
        m_pointedSelection = event->button() == Qt::LeftButton;
        return;
    }
    if (m_tool && m_tool->press(pos, event->modifiers())) {
        event->accept();
        return;
    }
    m_pointedSelection = true;
    if (shapeItemAt(pos)) {
        QGraphicsScene::mousePressEvent(event);   // the item runs its own gesture
        return;
    }
    m_selecting = true;
    m_selectStart = pos;
    m_selectAdditive = event->modifiers() & Qt::ControlModifier;
    m_selectBase = m_selectAdditive ? selectedIds() : QList<uint>();
    if (!m_selectRectItem)
        m_selectRectItem = addBandItem(this, true);
    m_selectRectItem->setRect(QRectF(pos, QSizeF(0, 0)));
    m_selectRectItem->show();
    event->accept();
}

void AnnotationScene::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF p = clampedToImage(event->scenePos());
    if (m_selecting) {
        m_selectRectItem->setRect(QRectF(m_selectStart, p).normalized());
        event->accept();
    } else if (m_tool && m_tool->move(p)) {
        event->accept();
    } else {
        QGraphicsScene::mouseMoveEvent(event);
    }
}

void AnnotationScene::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_selecting) {
        finishRubberBand(event->scenePos());
        event->accept();
    } else if (m_tool && m_tool->release(event->scenePos())) {
        event->accept();
    } else {
        QGraphicsScene::mouseReleaseEvent(event);
    }
}

void AnnotationScene::finishRubberBand(const QPointF &releasePos)
{
    m_selecting = false;
    m_selectRectItem->hide();
    const double s = viewScale();
    const QRectF r = QRectF(m_selectStart, releasePos).normalized();
    if (r.width() * s < 3 && r.height() * s < 3) {
        if (!m_selectAdditive)
            clearSelection();
        return;
    }
    QList<uint> ids = m_selectBase;
    const QList<QGraphicsItem *> hits = items(r, Qt::IntersectsItemShape);
    for (QGraphicsItem *item : hits) {
        if (!isShapeItemType(item->type()) || !item->isVisible())
            continue;
        const uint id = static_cast<ShapeItemBase *>(item)->id();
        if (!ids.contains(id))
            ids.append(id);
    }
    clearSelection();
    for (uint id : std::as_const(ids)) {
        if (ShapeItemBase *item = m_items.value(id))
            item->setSelected(true);
    }
}

void AnnotationScene::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_tool && m_tool->doubleClick(event->scenePos())) {
        event->accept();
        return;
    }
    QGraphicsScene::mouseDoubleClickEvent(event);
}

void AnnotationScene::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_tool && m_tool->finish()) {
        event->accept();
        return;
    }
    QGraphicsScene::keyPressEvent(event);
}

void AnnotationScene::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    if (ShapeItemBase *item = shapeItemAt(event->scenePos())) {
        emit itemContextRequested(item->id(), event->screenPos(), event->scenePos());
        event->accept();
        return;
    }
    QGraphicsScene::contextMenuEvent(event);
}
