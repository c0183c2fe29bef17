#pragma once

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "canvas/shapeitembase.h"
#include "support/annotationbuilders.h"

#include <QApplication>
#include <QMouseEvent>
#include <QtTest>

#include <memory>

// A shown view on a scene with a plain dark image, zoomed to a known factor, plus mouse helpers
// that address scene points. Moves are sent by hand so that held buttons travel with them.
class CanvasFixture
{
public:
    explicit CanvasFixture(QSize imageSize = QSize(400, 300), double zoom = 1.0,
                           QSize viewSize = QSize(700, 600))
        : scene(std::make_unique<AnnotationScene>())
        , view(std::make_unique<CanvasView>(scene.get()))
    {
        QObject::connect(view.get(), &CanvasView::viewScaleChanged, scene.get(),
                         &AnnotationScene::setViewScale);
        view->resize(viewSize);
        view->show();
        QImage image(imageSize, QImage::Format_RGB32);
        image.fill(QColor(0x20, 0x20, 0x20));
        view->setImage(image);
        setZoom(zoom);
    }

    void setZoom(double zoom)
    {
        view->setScale(zoom, QRectF(view->viewport()->rect()).center());
        view->centerOn(scene->imageRect().center());
    }

    QWidget *viewport() const { return view->viewport(); }
    QPoint at(const QPointF &scenePos) const { return view->mapFromScene(scenePos); }

    void pressAt(const QPoint &pos, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {})
    {
        QTest::mousePress(viewport(), b, m, pos);
        m_buttons |= b;
    }
    void releaseAt(const QPoint &pos, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {})
    {
        QTest::mouseRelease(viewport(), b, m, pos);
        m_buttons &= ~b;
    }
    void press(const QPointF &p, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {})
    {
        pressAt(at(p), b, m);
    }
    void release(const QPointF &p, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {})
    {
        releaseAt(at(p), b, m);
    }
    void moveTo(const QPoint &viewportPos, Qt::KeyboardModifiers m = {})
    {
        QMouseEvent event(QEvent::MouseMove, viewportPos, viewport()->mapToGlobal(viewportPos),
                          Qt::NoButton, m_buttons, m);
        QApplication::sendEvent(viewport(), &event);
    }
    void move(const QPointF &p, Qt::KeyboardModifiers m = {}) { moveTo(at(p), m); }
    // Press, a few intermediate moves, release: a real drag.
    void drag(const QPointF &from, const QPointF &to, Qt::KeyboardModifiers m = {})
    {
        press(from, Qt::LeftButton, m);
        for (int i = 1; i <= 4; ++i)
            move(from + (to - from) * (i / 4.0), m);
        release(to, Qt::LeftButton, m);
    }
    void click(const QPointF &p, Qt::KeyboardModifiers m = {})
    {
        press(p, Qt::LeftButton, m);
        release(p, Qt::LeftButton, m);
    }
    // What a real double-click delivers: press, release, double-click, release.
    void doubleClick(const QPointF &p)
    {
        click(p);
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at(p));
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(p));
    }

    uint add(const Annotation &a)
    {
        const uint id = uint(scene->allocateId());
        scene->applyState(id, a);
        return id;
    }

    QImage grab() const { return view->viewport()->grab().toImage(); }

    std::unique_ptr<AnnotationScene> scene;
    std::unique_ptr<CanvasView> view;

private:
    Qt::MouseButtons m_buttons;
};

// Colours compared with a little room for antialiasing and blending.
inline bool nearColor(QColor a, QColor b, int tolerance = 12)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}
