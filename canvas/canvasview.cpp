#include "canvas/canvasview.h"

#include "canvas/annotationscene.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
bool isArrowKey(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

// An arrow, alone or with Shift, that nudges the selection. With Ctrl, Alt or Meta the arrows
// belong to the window's actions (brightness and contrast), selection or not.
bool isNudgeKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers chords = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return isArrowKey(event->key()) && !(event->modifiers() & chords);
}

double clampScale(double k)
{
    if (!(k > CanvasView::kMinScale))   // also NaN
        return CanvasView::kMinScale;
    return std::min(k, CanvasView::kMaxScale);
}
} // namespace

CanvasView::CanvasView(AnnotationScene *scene, QWidget *parent)
    : QGraphicsView(scene, parent)
    , m_scene(scene)
{
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setDragMode(QGraphicsView::NoDrag);
    // No scroll bars: coming and going they would resize the viewport and shift the image under
    // the pointer. Panning is Space + drag or the middle button.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    refreshCursor();
}

void CanvasView::setImage(const QImage &image, const QSize &logicalSize)
{
    m_imageSize = image.isNull() ? QSize() : (logicalSize.isValid() ? logicalSize : image.size());
    m_scene->setImage(image, logicalSize);
    updatePannableArea(viewport()->size());
    m_fitPending = true;
    zoomFit();
    emit cursorMoved(QPoint(), false);   // the last image's coordinates mean nothing on this one
}

void CanvasView::replaceImagePixels(const QImage &image)
{
    if (m_imageSize.isEmpty() || image.isNull())
        return;
    m_scene->setImage(image, m_imageSize);
}

void CanvasView::clear()
{
    m_imageSize = QSize();
    m_fitPending = false;
    m_atFit = false;
    m_scene->clear();
    emit cursorMoved(QPoint(), false);
    setSceneRect(QRectF());
    resetTransform();
    m_scale = 1.0;
    emit zoomChanged(100);
    emit viewScaleChanged(1.0);
}

void CanvasView::setCanvasCursor(const QCursor &cursor)
{
    m_canvasCursor = cursor;
    refreshCursor();
}

void CanvasView::refreshCursor()
{
    if (m_panning)
        viewport()->setCursor(Qt::ClosedHandCursor);
    else if (m_spaceHeld)
        viewport()->setCursor(Qt::OpenHandCursor);
    else
        viewport()->setCursor(m_canvasCursor);
}

QPointF CanvasView::viewportCentre() const
{
    return QRectF(viewport()->rect()).center();
}

void CanvasView::setScale(double k, const QPointF &anchor)
{
    k = clampScale(k);
    m_atFit = false;
    if (qFuzzyCompare(k, m_scale)) {
        emit zoomChanged(qRound(m_scale * 100));
        return;
    }
    const QPoint pixel(qRound(anchor.x()), qRound(anchor.y()));
    const QPointF before = mapToScene(pixel);
    setTransform(QTransform::fromScale(k, k));
    m_scale = k;
    updatePannableArea(viewport()->size());
    const QPointF after = mapToScene(pixel);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + qRound((before.x() - after.x()) * k));
    verticalScrollBar()->setValue(verticalScrollBar()->value() + qRound((before.y() - after.y()) * k));
    emit zoomChanged(qRound(k * 100));
    emit viewScaleChanged(k);
}

void CanvasView::zoomIn()
{
    setScale(m_scale * 1.2, viewportCentre());
}

void CanvasView::zoomOut()
{
    setScale(m_scale / 1.2, viewportCentre());
}

void CanvasView::zoom100()
{
    setScale(1.0, viewportCentre());
}

void CanvasView::zoomFit()
{
    // A hidden view reports a made-up viewport size (640 x 480 before the first show), so the
    // fit waits for the show or a resize that gives room.
    if (m_imageSize.isEmpty() || !isVisible())
        return;
    const double availableWidth = viewport()->width() - 80;
    const double availableHeight = viewport()->height() - 80;
    if (availableWidth <= 0 || availableHeight <= 0)
        return;   // stays pending until a resize gives room
    m_fitPending = false;
    const double k = clampScale(std::min(availableWidth / m_imageSize.width(),
                                         availableHeight / m_imageSize.height()));
    setScale(k, viewportCentre());
    centerOn(m_scene->imageRect().center());
    m_atFit = true;
}

bool CanvasView::event(QEvent *event)
{
    if (event->type() == QEvent::Show && m_fitPending && !m_imageSize.isEmpty()) {
        const bool handled = QGraphicsView::event(event);
        zoomFit();
        return handled;
    }
    if (event->type() == QEvent::FocusOut && m_spaceHeld) {
        // The Space release will reach another widget: left presses must not keep panning.
        m_spaceHeld = false;
        refreshCursor();
    }
    if (event->type() == QEvent::ShortcutOverride) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (isNudgeKey(keyEvent) && m_scene->hasPointedSelection()) {
            event->accept();
            return true;
        }
    }
    return QGraphicsView::event(event);
}

void CanvasView::mousePressEvent(QMouseEvent *event)
{
    const bool panButton = event->button() == Qt::MiddleButton
        || (event->button() == Qt::LeftButton && m_spaceHeld);
    if (panButton && !m_imageSize.isEmpty()) {
        m_panning = true;
        m_atFit = false;
        m_lastPanPos = event->position();
        refreshCursor();
        event->accept();
        return;
    }
    QGraphicsView::mousePressEvent(event);
}

void CanvasView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    const QPointF scenePos = mapToScene(pos.toPoint());
    emit cursorMoved(QPoint(int(std::floor(scenePos.x())), int(std::floor(scenePos.y()))),
                     m_scene->imageRect().contains(scenePos));
    if (m_panning) {
        const QPointF delta = pos - m_lastPanPos;
        m_lastPanPos = pos;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - qRound(delta.x()));
        verticalScrollBar()->setValue(verticalScrollBar()->value() - qRound(delta.y()));
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void CanvasView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_panning) {
        m_panning = false;
        refreshCursor();
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void CanvasView::wheelEvent(QWheelEvent *event)
{
    if (m_imageSize.isEmpty()) {
        event->ignore();
        return;
    }
    const double notches = event->angleDelta().y() / 120.0;
    setScale(m_scale * std::pow(1.2, notches), event->position());
    event->accept();
}

void CanvasView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat() && !m_spaceHeld) {
        m_spaceHeld = true;
        refreshCursor();
        event->accept();
        return;
    }
    if (isNudgeKey(event) && m_scene->hasPointedSelection()) {
        const int step = (event->modifiers() & Qt::ShiftModifier) ? 10 : 1;
        int dx = 0, dy = 0;
        switch (event->key()) {
        case Qt::Key_Left: dx = -step; break;
        case Qt::Key_Right: dx = step; break;
        case Qt::Key_Up: dy = -step; break;
        default: dy = step; break;
        }
        m_scene->nudgeSelected(dx, dy);
        event->accept();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void CanvasView::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat() && m_spaceHeld) {
        m_spaceHeld = false;
        refreshCursor();
        event->accept();
        return;
    }
    QGraphicsView::keyReleaseEvent(event);
}

// The area the view may show: the image and one viewport of room on every side, so the image can
// be panned until its edge meets the far side of the canvas. Its bounds are not the scroll origin
// (scroll values are absolute), so widening them moves nothing; and with this much room a resize
// never has to clamp the scroll position: the image stays where it was on screen.
void CanvasView::updatePannableArea(const QSize &viewportSize)
{
    const QRectF image = m_scene->imageRect();
    if (image.isEmpty()) {
        setSceneRect(QRectF());
        return;
    }
    const double k = std::max(m_scale, kMinScale);
    const double dx = std::max(viewportSize.width(), 1) / k;
    const double dy = std::max(viewportSize.height(), 1) / k;
    setSceneRect(image.adjusted(-dx, -dy, dx, dy));
}

void CanvasView::resizeEvent(QResizeEvent *event)
{
    // Before the base class recomputes the scroll ranges for the new size.
    updatePannableArea(viewport()->size());
    QGraphicsView::resizeEvent(event);
    // The window's first size is seldom its last (a maximised start, a tiling window manager):
    // a fitted image keeps fitting until the user zooms or pans.
    if ((m_fitPending || m_atFit) && !m_imageSize.isEmpty())
        zoomFit();
}
