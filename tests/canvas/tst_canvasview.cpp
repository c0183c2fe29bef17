#include "canvasfixture.h"
#include "testmain.h"

#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QWheelEvent>

#include <cmath>

class TestCanvasView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerAnnotationMetaTypes(); }

    void wheelNotchesAndLimit();
    void zoomLimits_data();
    void zoomLimits();
    void wheelKeepsPixelUnderCursor_data();
    void wheelKeepsPixelUnderCursor();
    void unchangedZoomStillReports();
    void buttonsZoomAroundCentre();
    void fitWideImages_data();
    void fitWideImages();
    void fitDeferredUntilRoom_data();
    void fitDeferredUntilRoom();
    void laterResizeDoesNotRefit();
    void resizeRefitsWhileAtFit_data();
    void resizeRefitsWhileAtFit();
    void reducedPixelsCoverTheImage_data();
    void reducedPixelsCoverTheImage();
    void clearResets();

    void noImageNoZoomNoPan();
    void panWithMiddleButton();
    void panWithSpaceDrag_data();
    void panWithSpaceDrag();
    void cursorReport_data();
    void cursorReport();

    void arrowKeysNudgeOrScroll();
    void arrowKeysBeatShortcutsWithSelection_data();
    void arrowKeysBeatShortcutsWithSelection();
    void viewScaleReachesItems();
    void selectIdEnsuresVisible();

private:
    static void wheel(CanvasView *view, const QPoint &pos, int delta)
    {
        QWheelEvent event(pos, view->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }
};

void TestCanvasView::wheelNotchesAndLimit()
{
    CanvasFixture f(QSize(400, 300), 1.0);
    QSignalSpy zoom(f.view.get(), &CanvasView::zoomChanged);
    const QPoint centre = f.viewport()->rect().center();
    for (int i = 0; i < 10; ++i)
        wheel(f.view.get(), centre, 120);
    QCOMPARE(zoom.count(), 10);
    QCOMPARE(zoom.last().at(0).toInt(), 619);
    QVERIFY(qFuzzyCompare(f.view->zoomFactor(), std::pow(1.2, 10)));
    for (int i = 0; i < 20; ++i)
        wheel(f.view.get(), centre, 120);
    QCOMPARE(f.view->zoomFactor(), 32.0);
    QCOMPARE(zoom.count(), 30);
    QCOMPARE(zoom.last().at(0).toInt(), 3200);
    wheel(f.view.get(), centre, 60);   // half a notch on a fine-grained wheel, still at the limit
    QCOMPARE(zoom.last().at(0).toInt(), 3200);
    wheel(f.view.get(), centre, -60);
    QVERIFY(qFuzzyCompare(f.view->zoomFactor(), 32 / std::sqrt(1.2)));
}

void TestCanvasView::zoomLimits_data()
{
    QTest::addColumn<double>("requested");
    QTest::addColumn<double>("expected");
    QTest::addColumn<int>("percent");
    QTest::newRow("below") << 0.05 << 0.1 << 10;
    QTest::newRow("zero") << 0.0 << 0.1 << 10;
    QTest::newRow("negative") << -3.0 << 0.1 << 10;
    QTest::newRow("nan") << std::nan("") << 0.1 << 10;
    QTest::newRow("above") << 100.0 << 32.0 << 3200;
    QTest::newRow("half percent rounds up") << 1.235 << 1.235 << 124;
}

void TestCanvasView::zoomLimits()
{
    QFETCH(double, requested);
    QFETCH(double, expected);
    QFETCH(int, percent);
    CanvasFixture f;
    QSignalSpy zoom(f.view.get(), &CanvasView::zoomChanged);
    QSignalSpy scale(f.view.get(), &CanvasView::viewScaleChanged);
    f.view->setScale(requested, QPointF(100, 100));
    QCOMPARE(f.view->zoomFactor(), expected);
    QCOMPARE(f.view->transform().m11(), expected);
    QCOMPARE(zoom.last().at(0).toInt(), percent);
    QCOMPARE(scale.count(), 1);
    QCOMPARE(scale.at(0).at(0).toDouble(), expected);
}

void TestCanvasView::wheelKeepsPixelUnderCursor_data()
{
    QTest::addColumn<double>("startZoom");
    QTest::addColumn<QPointF>("imagePoint");
    QTest::addColumn<int>("delta");
    QTest::newRow("zoom in at a corner area") << 2.0 << QPointF(1150.5, 830.25) << 120;
    QTest::newRow("zoom in three notches") << 1.0 << QPointF(700, 500) << 360;
    QTest::newRow("zoom out") << 4.0 << QPointF(1000.5, 700.5) << -240;
}

void TestCanvasView::wheelKeepsPixelUnderCursor()
{
    QFETCH(double, startZoom);
    QFETCH(QPointF, imagePoint);
    QFETCH(int, delta);
    CanvasFixture f(QSize(2000, 1500), startZoom, QSize(800, 600));
    const QPoint cursor = f.at(imagePoint);
    QVERIFY(f.viewport()->rect().contains(cursor));
    const QPoint pixelBefore = f.view->mapToScene(cursor).toPoint();
    wheel(f.view.get(), cursor, delta);
    QVERIFY(!qFuzzyCompare(f.view->zoomFactor(), startZoom));
    const QPointF after = f.view->mapToScene(cursor);
    // The same image pixel stays under the cursor (within one screen pixel of rounding).
    QVERIFY2(std::abs(after.x() - pixelBefore.x()) <= 1.0 / f.view->zoomFactor() + 0.5
                 && std::abs(after.y() - pixelBefore.y()) <= 1.0 / f.view->zoomFactor() + 0.5,
             qPrintable(QStringLiteral("%1,%2 vs %3,%4").arg(after.x()).arg(after.y())
                            .arg(pixelBefore.x()).arg(pixelBefore.y())));
}

void TestCanvasView::unchangedZoomStillReports()
{
    CanvasFixture f(QSize(400, 300), 1.0);
    QSignalSpy zoom(f.view.get(), &CanvasView::zoomChanged);
    QSignalSpy scale(f.view.get(), &CanvasView::viewScaleChanged);
    f.view->zoom100();
    QCOMPARE(zoom.count(), 1);
    QCOMPARE(zoom.at(0).at(0).toInt(), 100);
    QCOMPARE(scale.count(), 0);
}

void TestCanvasView::buttonsZoomAroundCentre()
{
    CanvasFixture f(QSize(3000, 2000), 1.0, QSize(800, 600));
    const QPointF centre = QRectF(f.viewport()->rect()).center();
    const QPointF before = f.view->mapToScene(centre.toPoint());
    f.view->zoomIn();
    QVERIFY(qFuzzyCompare(f.view->zoomFactor(), 1.2));
    f.view->zoomIn();
    f.view->zoomOut();
    QVERIFY(qFuzzyCompare(f.view->zoomFactor(), 1.2));
    const QPointF after = f.view->mapToScene(centre.toPoint());
    QVERIFY(QLineF(before, after).length() < 2.0);
}

void TestCanvasView::fitWideImages_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<double>("expected");
    QTest::addColumn<int>("percent");
    QTest::newRow("8000 x 1000: min(920/8000, 720/1000)") << QSize(8000, 1000) << 0.115 << 12;
    QTest::newRow("32000 x 1000 needs < 0.1") << QSize(32000, 1000) << 0.1 << 10;
    QTest::newRow("small image enlarged") << QSize(46, 36) << 20.0 << 2000;
    QTest::newRow("tiny image capped at 3200%") << QSize(4, 3) << 32.0 << 3200;
}

void TestCanvasView::fitWideImages()
{
    QFETCH(QSize, image);
    QFETCH(double, expected);
    QFETCH(int, percent);
    AnnotationScene scene;
    CanvasView view(&scene);
    // Fixed scroll bars so that the viewport is exactly 1000 x 800.
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1000, 800);
    view.show();
    QCOMPARE(view.viewport()->size(), QSize(1000, 800));
    QSignalSpy zoom(&view, &CanvasView::zoomChanged);
    QImage img(image, QImage::Format_RGB32);
    img.fill(Qt::gray);
    view.setImage(img);
    QVERIFY(qFuzzyCompare(view.zoomFactor(), expected));
    QCOMPARE(zoom.last().at(0).toInt(), percent);
    QVERIFY(!view.fitPending());
    // Centred on the image.
    const QPointF centre = view.mapToScene(view.viewport()->rect().center());
    QVERIFY(QLineF(centre, QRectF(QPointF(0, 0), QSizeF(image)).center()).length() <= 2 / expected);
}

void TestCanvasView::fitDeferredUntilRoom_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::newRow("window not shown yet") << true;
    QTest::newRow("shown but only 60 x 60") << false;
}

void TestCanvasView::fitDeferredUntilRoom()
{
    QFETCH(bool, hidden);
    AnnotationScene scene;
    CanvasView view(&scene);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (hidden) {
        view.resize(1080, 880);
    } else {
        view.resize(60, 60);
        view.show();
    }
    QSignalSpy scale(&view, &CanvasView::viewScaleChanged);
    QImage img(2000, 1000, QImage::Format_RGB32);
    img.fill(Qt::gray);
    view.setImage(img);
    QVERIFY(view.fitPending());
    QCOMPARE(view.zoomFactor(), 1.0);
    QCOMPARE(scale.count(), 0);
    if (hidden)
        view.show();
    else
        view.resize(1080, 880);
    QTRY_VERIFY(!view.fitPending());
    QCOMPARE(view.viewport()->size(), QSize(1080, 880));
    QVERIFY(qFuzzyCompare(view.zoomFactor(), 0.5));   // min(1000/2000, 800/1000)
    QCOMPARE(scale.count(), 1);
}

void TestCanvasView::laterResizeDoesNotRefit()
{
    CanvasFixture f(QSize(400, 300), 2.5);
    f.view->resize(300, 300);
    QCOMPARE(f.view->zoomFactor(), 2.5);
}

// A maximised start gives the view its last size only after the first image was fitted.
void TestCanvasView::resizeRefitsWhileAtFit_data()
{
    QTest::addColumn<QString>("before");   // what the user did after the fit
    QTest::addColumn<double>("expected");  // zoom after growing to 1080 x 880
    QTest::newRow("nothing: fitted again") << "" << 0.5;
    QTest::newRow("zoomed in: kept") << "zoom" << 0.2 * 1.2;
    QTest::newRow("panned: kept") << "pan" << 0.2;
    QTest::newRow("fitted again by hand: follows") << "zoom+fit" << 0.5;
}

void TestCanvasView::resizeRefitsWhileAtFit()
{
    QFETCH(QString, before);
    QFETCH(double, expected);
    AnnotationScene scene;
    CanvasView view(&scene);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(480, 280);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QImage img(2000, 1000, QImage::Format_RGB32);
    img.fill(Qt::gray);
    view.setImage(img);
    QVERIFY(qFuzzyCompare(view.zoomFactor(), 0.2));   // min(400/2000, 200/1000)
    QVERIFY(view.atFit());
    if (before.contains("zoom"))
        view.zoomIn();
    if (before == "pan") {
        const QPoint centre = view.viewport()->rect().center();
        QTest::mousePress(view.viewport(), Qt::MiddleButton, {}, centre);
        QMouseEvent move(QEvent::MouseMove, centre + QPoint(30, 10), view.viewport()->mapToGlobal(centre + QPoint(30, 10)),
                         Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
        QTest::mouseRelease(view.viewport(), Qt::MiddleButton, {}, centre + QPoint(30, 10));
    }
    if (before.endsWith("fit"))
        view.zoomFit();
    view.resize(1080, 880);
    QVERIFY2(qFuzzyCompare(view.zoomFactor(), expected), qPrintable(QString::number(view.zoomFactor())));
    if (expected == 0.5) {
        // Centred in the new size.
        const QPointF centre = view.mapToScene(view.viewport()->rect().center());
        QVERIFY2(qAbs(centre.x() - 1000) < 4 && qAbs(centre.y() - 500) < 4, qPrintable(QString("%1,%2").arg(centre.x()).arg(centre.y())));
    }
}

void TestCanvasView::reducedPixelsCoverTheImage_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<int>("reduction");
    QTest::addColumn<double>("zoom");
    QTest::newRow("2048 x 1536 at half size, 100 %") << QSize(2048, 1536) << 2 << 1.0;
    QTest::newRow("4000 x 3000 at a quarter, 100 %") << QSize(4000, 3000) << 4 << 1.0;
    QTest::newRow("4000 x 3000 at a quarter, 200 %") << QSize(4000, 3000) << 4 << 2.0;
    QTest::newRow("2048 x 1536 at half size, fit") << QSize(2048, 1536) << 2 << 0.3;
    QTest::newRow("2047 x 1535 rounded up, 100 %") << QSize(2047, 1535) << 2 << 1.0;
}

// A photo shown from a reduced decode (until full detail arrives) covers the whole image at
// every zoom, 100 % included, instead of its own pixel size in a corner.
void TestCanvasView::reducedPixelsCoverTheImage()
{
    QFETCH(QSize, image);
    QFETCH(int, reduction);
    QFETCH(double, zoom);
    const QSize reduced((image.width() + reduction - 1) / reduction, (image.height() + reduction - 1) / reduction);
    QImage pixels(reduced, QImage::Format_RGB32);
    const QColor quadrant[2][2] = {{Qt::red, Qt::green}, {Qt::blue, Qt::yellow}};
    for (int y = 0; y < reduced.height(); ++y) {
        for (int x = 0; x < reduced.width(); ++x)
            pixels.setPixel(x, y, quadrant[y * 2 / reduced.height()][x * 2 / reduced.width()].rgb());
    }
    AnnotationScene scene;
    CanvasView view(&scene);
    view.resize(700, 600);
    view.show();
    view.setImage(pixels, image);
    view.setScale(zoom, QRectF(view.viewport()->rect()).center());
    view.centerOn(scene.imageRect().center());
    const QImage shown = view.viewport()->grab().toImage();
    const QPointF centre = scene.imageRect().center();
    const double d = 60 / zoom;   // 60 screen pixels from the centre, into each quadrant
    for (int qy = 0; qy < 2; ++qy) {
        for (int qx = 0; qx < 2; ++qx) {
            const QPoint at = view.mapFromScene(centre + QPointF(qx ? d : -d, qy ? d : -d));
            QCOMPARE(shown.pixelColor(at), quadrant[qy][qx]);
        }
    }
}

void TestCanvasView::clearResets()
{
    CanvasFixture f(QSize(400, 300), 3.0);
    f.add(box("cat", QRectF(10, 10, 20, 20)));
    QSignalSpy zoom(f.view.get(), &CanvasView::zoomChanged);
    QSignalSpy scale(f.view.get(), &CanvasView::viewScaleChanged);
    f.view->clear();
    QCOMPARE(f.view->zoomFactor(), 1.0);
    QVERIFY(f.view->transform().isIdentity());
    QCOMPARE(zoom.last().at(0).toInt(), 100);
    QCOMPARE(scale.last().at(0).toDouble(), 1.0);
    QVERIFY(f.scene->annotations().isEmpty());
    QVERIFY(f.scene->image().isNull());
    f.view->zoomFit();   // nothing without an image
    QCOMPARE(f.view->zoomFactor(), 1.0);
}

void TestCanvasView::noImageNoZoomNoPan()
{
    AnnotationScene scene;
    scene.setSceneRect(0, 0, 3000, 3000);
    CanvasView view(&scene);
    view.resize(400, 400);
    view.show();
    QSignalSpy zoom(&view, &CanvasView::zoomChanged);
    wheel(&view, QPoint(100, 100), 120);
    QCOMPARE(zoom.count(), 0);
    QCOMPARE(view.zoomFactor(), 1.0);
    QTest::keyPress(&view, Qt::Key_Space);
    QVERIFY(view.spaceHeld());
    const int h = view.horizontalScrollBar()->value();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(200, 200));
    QVERIFY(!view.isPanning());
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 200), view.viewport()->mapToGlobal(QPointF(100, 200)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(100, 200));
    QCOMPARE(view.horizontalScrollBar()->value(), h);
    QTest::keyRelease(&view, Qt::Key_Space);
}

void TestCanvasView::panWithMiddleButton()
{
    CanvasFixture f(QSize(2000, 1500), 1.0, QSize(800, 600));
    f.view->setCanvasCursor(Qt::CrossCursor);
    QCOMPARE(f.viewport()->cursor().shape(), Qt::CrossCursor);
    auto *h = f.view->horizontalScrollBar();
    auto *v = f.view->verticalScrollBar();
    const int h0 = h->value(), v0 = v->value();
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    f.scene->setMode(AnnotationScene::RectMode);
    const QPoint start(400, 300);
    QTest::mousePress(f.viewport(), Qt::MiddleButton, {}, start);
    QVERIFY(f.view->isPanning());
    QCOMPARE(f.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    QMouseEvent move(QEvent::MouseMove, QPointF(370.6, 320.4), f.viewport()->mapToGlobal(QPointF(370.6, 320.4)),
                     Qt::NoButton, Qt::MiddleButton, {});
    QApplication::sendEvent(f.viewport(), &move);
    QCOMPARE(h->value(), h0 + 29);   // content follows the mouse: -29.4 rounds to -29
    QCOMPARE(v->value(), v0 - 20);
    QTest::mouseRelease(f.viewport(), Qt::MiddleButton, {}, QPoint(370, 320));
    QVERIFY(!f.view->isPanning());
    QCOMPARE(f.viewport()->cursor().shape(), Qt::CrossCursor);
    QCOMPARE(drafted.count(), 0);   // the scene never saw the press
}

void TestCanvasView::panWithSpaceDrag_data()
{
    QTest::addColumn<bool>("focusLeaves");
    QTest::newRow("space released over the canvas") << false;
    // The release then goes to another widget (a dialog, another window): Space must not stay held.
    QTest::newRow("focus leaves the canvas while space is down") << true;
}

void TestCanvasView::panWithSpaceDrag()
{
    QFETCH(bool, focusLeaves);
    CanvasFixture f(QSize(2000, 1500), 1.0, QSize(800, 600));
    f.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
    f.view->setFocus();
    QVERIFY(f.view->hasFocus());
    f.scene->setMode(AnnotationScene::RectMode);
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    auto *h = f.view->horizontalScrollBar();
    const int h0 = h->value();
    QTest::keyPress(f.view.get(), Qt::Key_Space);
    QCOMPARE(f.viewport()->cursor().shape(), Qt::OpenHandCursor);
    const QPoint start = f.viewport()->rect().center();
    f.pressAt(start);
    f.moveTo(start - QPoint(60, 0));
    f.moveTo(start - QPoint(100, 0));
    f.releaseAt(start - QPoint(100, 0));
    QCOMPARE(h->value(), h0 + 100);
    QCOMPARE(f.viewport()->cursor().shape(), Qt::OpenHandCursor);
    if (focusLeaves)
        f.view->clearFocus();
    else
        QTest::keyRelease(f.view.get(), Qt::Key_Space);
    QVERIFY(!f.view->spaceHeld());
    QCOMPARE(f.viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(drafted.count(), 0);
    // Without Space the same drag draws.
    f.drag(QPointF(1000, 700), QPointF(900, 650));
    QCOMPARE(drafted.count(), 1);
}

void TestCanvasView::cursorReport_data()
{
    QTest::addColumn<QPointF>("scenePoint");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("inside");
    QTest::newRow("inside") << QPointF(120.5, 40.5) << QPoint(120, 40) << true;
    QTest::newRow("left of image") << QPointF(-10.5, 40.5) << QPoint(-11, 40) << false;
    QTest::newRow("on right edge") << QPointF(400, 100.5) << QPoint(400, 100) << true;
    QTest::newRow("below") << QPointF(200.5, 330.5) << QPoint(200, 330) << false;
}

void TestCanvasView::cursorReport()
{
    QFETCH(QPointF, scenePoint);
    QFETCH(QPoint, pixel);
    QFETCH(bool, inside);
    CanvasFixture f(QSize(400, 300), 2.0, QSize(1200, 1000));
    QSignalSpy spy(f.view.get(), &CanvasView::cursorMoved);
    f.move(scenePoint);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toPoint(), pixel);
    QCOMPARE(spy.at(0).at(1).toBool(), inside);
}

void TestCanvasView::arrowKeysNudgeOrScroll()
{
    CanvasFixture f(QSize(2000, 1500), 1.0, QSize(800, 600));
    const uint id = f.add(box("cat", QRectF(900, 700, 50, 50)));
    auto *h = f.view->horizontalScrollBar();
    const int h0 = h->value();
    QTest::keyClick(f.view.get(), Qt::Key_Right);   // nothing selected: the view scrolls
    QVERIFY(h->value() > h0);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(900, 700, 50, 50));
    const int h1 = h->value();
    f.scene->selectId(id, false, true);
    QTest::keyClick(f.view.get(), Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(910, 700, 50, 50));
    QCOMPARE(h->value(), h1);
}

void TestCanvasView::arrowKeysBeatShortcutsWithSelection_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("nudges");   // with a selection: the shape moves, the window's key does not fire
    QTest::addColumn<double>("dx");
    QTest::newRow("arrow") << int(Qt::NoModifier) << true << -1.0;
    QTest::newRow("Shift: ten pixels") << int(Qt::ShiftModifier) << true << -10.0;
    // The window's keys with Ctrl (brightness and contrast are Ctrl+Shift+arrows).
    QTest::newRow("Ctrl+Shift is the window's") << int(Qt::ControlModifier | Qt::ShiftModifier) << false << 0.0;
    QTest::newRow("Ctrl is the window's") << int(Qt::ControlModifier) << false << 0.0;
}

void TestCanvasView::arrowKeysBeatShortcutsWithSelection()
{
    QFETCH(int, modifiers);
    QFETCH(bool, nudges);
    QFETCH(double, dx);
    const Qt::KeyboardModifiers mods(modifiers);
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 50, 50)));
    QWidget *window = f.view->window();
    QShortcut shortcut(QKeySequence(mods | Qt::Key_Left), window);
    QSignalSpy fired(&shortcut, &QShortcut::activated);
    window->activateWindow();
    f.view->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(f.view.get(), Qt::Key_Left, mods);
    QCOMPARE(fired.count(), 1);   // no selection: the window's shortcut wins
    f.scene->selectId(id, false);   // selected for the user (a shape just drawn): still the window's
    QTest::keyClick(f.view.get(), Qt::Key_Left, mods);
    QCOMPARE(fired.count(), 2);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(100, 100, 50, 50));
    f.scene->selectId(id, false, true);   // picked by the user
    QTest::keyClick(f.view.get(), Qt::Key_Left, mods);
    QCOMPARE(fired.count(), nudges ? 2 : 3);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(100 + dx, 100, 50, 50));
}

void TestCanvasView::viewScaleReachesItems()
{
    CanvasFixture f(QSize(400, 300), 1.0);
    const uint id = f.add(box("cat", QRectF(100, 100, 40, 40)));
    QCOMPARE(f.scene->shapeItem(id)->boundingRect(), QRectF(96, 96, 48, 48));
    f.view->setScale(4.0, QPointF(10, 10));
    QCOMPARE(f.scene->viewScale(), 4.0);
    QCOMPARE(f.scene->shapeItem(id)->boundingRect(), QRectF(99, 99, 42, 42));
    const uint later = f.add(box("cat", QRectF(10, 10, 40, 40)));   // new items start at the view's zoom
    QCOMPARE(f.scene->shapeItem(later)->boundingRect(), QRectF(9, 9, 42, 42));
}

void TestCanvasView::selectIdEnsuresVisible()
{
    CanvasFixture f(QSize(3000, 2000), 4.0, QSize(800, 600));
    const uint id = f.add(box("cat", QRectF(2800, 1850, 40, 30)));
    const QRect visibleBefore = f.view->mapFromScene(QRectF(2800, 1850, 40, 30)).boundingRect();
    QVERIFY(!f.viewport()->rect().intersects(visibleBefore));
    f.scene->selectId(id, true);
    QCOMPARE(f.scene->selectedId(), id);
    const QRect shown = f.view->mapFromScene(QRectF(2800, 1850, 40, 30)).boundingRect();
    QVERIFY(f.viewport()->rect().adjusted(70, 70, -70, -70).contains(shown));
    f.scene->selectId(9999, true);   // unknown id: just clears
    QVERIFY(!f.scene->hasSelection());
}

BRINDLE_TEST_MAIN(TestCanvasView)
#include "tst_canvasview.moc"
