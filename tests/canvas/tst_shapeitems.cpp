#include "canvas/box/boxitem.h"
#include "canvas/labelcolor.h"
#include "canvas/polygon/polyitem.h"
#include "canvasfixture.h"
#include "shared/language.h"
#include "testmain.h"

#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>

class TestShapeItems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerAnnotationMetaTypes(); }
    void keptShapesAreOnlyShown_data();
    void keptShapesAreOnlyShown();

    void labelColorRule_data();
    void labelColorRule();
    void labelColorKeepsNameColourAcrossSessions();
    void viewScaleValues();

    void clickWithinThreshold_data();
    void clickWithinThreshold();
    void handleResize_data();
    void handleResize();
    void moveClampedToImage_data();
    void moveClampedToImage();
    void handlesOnlyOnSelectedBox();
    void outerHalfOfHandleIsHit();
    void ctrlPressKeepsSelection();
    void rightPressSelectsOnlyThis();
    void doubleClickRequestsConfirm();
    void dragBackToStartIsNoEdit();
    void stateAppliedDuringGestureStays_data();
    void stateAppliedDuringGestureStays();

    void vertexDragStaysOnBorder();
    void polygonMoveClamped();
    void polygonPressOutsideFallsThrough();

    void pendingEditConfirms_data();
    void pendingEditConfirms();

    void paintPendingColour();
    void paintSelectedHandles();
    void paintKeypointsOfSelectedBox();
    void paintOnePointPolygonDrawsNothing();
    void detailedOutline_data();
    void detailedOutline();
    void paintDifficultTagWithEmptyLabel();
    void difficultTagTranslated_data();
    void difficultTagTranslated();
    void hoverCursor_data();
    void hoverCursor();
    void hoveredHandleIsAccent();
    void decorationsInsideBounds();
    void movingLeavesNoTraces_data();
    void movingLeavesNoTraces();
};

void TestShapeItems::labelColorRule_data()
{
    QTest::addColumn<QStringList>("earlier");   // in use before
    QTest::addColumn<QStringList>("inUse");
    QTest::addColumn<QStringList>("sameAsBefore");   // names whose colour must not change
    const QStringList coco = {"person", "bicycle", "car", "motorcycle", "airplane", "bus",
                              "train", "truck", "boat", "traffic light", "fire hydrant", "stop sign"};
    QTest::newRow("person and truck") << QStringList() << QStringList{"person", "truck"} << QStringList();
    QTest::newRow("twelve COCO names") << QStringList() << coco << QStringList();
    QTest::newRow("Chinese names") << QStringList()
                                   << QStringList{"猫", "狗", "人", "车", "自行车", "卡车", "公交车", "红绿灯"}
                                   << QStringList();
    QTest::newRow("a new name keeps the others' colours")
        << coco.mid(0, 6) << coco.mid(0, 7) << coco.mid(0, 6);
    QTest::newRow("a dropped name keeps the others' colours")
        << coco.mid(0, 8) << (coco.mid(0, 3) + coco.mid(4, 4)) << (coco.mid(0, 3) + coco.mid(4, 4));
    QTest::newRow("a new name first in the list takes a free colour")
        << QStringList{"cat", "dog"} << QStringList{"bird", "cat", "dog"} << QStringList{"cat", "dog"};
}

void TestShapeItems::labelColorRule()
{
    QFETCH(QStringList, earlier);
    QFETCH(QStringList, inUse);
    QFETCH(QStringList, sameAsBefore);
    const auto reset = qScopeGuard([] { setLabelsInUse({}); });
    setLabelsInUse(earlier);
    QHash<QString, QRgb> before;
    for (const QString &label : sameAsBefore)
        before.insert(label, labelColor(label).rgb());
    // A name not yet in use previews the colour it then gets.
    const QString added = inUse.isEmpty() ? QString() : inUse.last();
    const QRgb preview = labelColor(added).rgb();
    setLabelsInUse(inUse);
    if (inUse == earlier + QStringList{added})
        QCOMPARE(labelColor(added).rgb(), preview);

    QSet<QRgb> colours;
    for (const QString &label : inUse) {
        QCOMPARE(labelColor(label).alpha(), 255);
        QVERIFY2(labelColor(label) != QColor(0xE2B93D), qPrintable(label));   // the unconfirmed amber
        colours.insert(labelColor(label).rgb());
    }
    QCOMPARE(colours.size(), inUse.size());
    for (const QString &label : sameAsBefore)
        QCOMPARE(labelColor(label).rgb(), before.value(label));
}

void TestShapeItems::labelColorKeepsNameColourAcrossSessions()
{
    // With nothing else in use a name always gets the same colour (the hash's).
    const auto reset = qScopeGuard([] { setLabelsInUse({}); });
    const QColor alone = labelColor(QStringLiteral("person"));
    setLabelsInUse({QStringLiteral("person")});
    QCOMPARE(labelColor(QStringLiteral("person")), alone);
    setLabelsInUse({QStringLiteral("car"), QStringLiteral("person")});
    setLabelsInUse({QStringLiteral("person")});
    QCOMPARE(labelColor(QStringLiteral("person")), alone);
    QVERIFY(!setLabelsInUse({QStringLiteral("person")}));   // nothing to repaint
    QVERIFY(setLabelsInUse({QStringLiteral("person"), QStringLiteral("truck")}));
}

void TestShapeItems::viewScaleValues()
{
    BoxItem item(box("cat", QRectF(10, 10, 100, 50)));
    QCOMPARE(item.boundingRect(), QRectF(6, 6, 108, 58));   // 4 screen px at scale 1
    item.setViewScale(2);
    QCOMPARE(item.boundingRect(), QRectF(8, 8, 104, 54));
    item.setViewScale(0);   // not positive: taken as 1
    QCOMPARE(item.boundingRect(), QRectF(6, 6, 108, 58));
    item.setViewScale(0.01);   // hit tolerances never use less than 0.1
    QCOMPARE(item.boundingRect(), QRectF(-30, -30, 180, 130));
}

void TestShapeItems::clickWithinThreshold_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("delta");   // in screen pixels
    QTest::addColumn<bool>("edited");
    QTest::newRow("no move") << 1.0 << QPointF(0, 0) << false;
    QTest::newRow("3+1 px at 100%") << 1.0 << QPointF(3, 1) << false;
    QTest::newRow("3+2 px at 100%") << 1.0 << QPointF(3, 2) << true;
    QTest::newRow("4 px at 200%") << 2.0 << QPointF(0, 4) << false;
    QTest::newRow("6 px at 200%") << 2.0 << QPointF(0, 6) << true;
}

void TestShapeItems::clickWithinThreshold()
{
    QFETCH(double, zoom);
    QFETCH(QPointF, delta);
    QFETCH(bool, edited);
    CanvasFixture f(QSize(400, 300), zoom);
    const uint id = f.add(box("cat", QRectF(100, 100, 80, 60)));
    QSignalSpy spy(f.scene.get(), &AnnotationScene::annotationEdited);
    const QPoint start = f.at(QPointF(140, 130));
    QTest::mousePress(f.viewport(), Qt::LeftButton, {}, start);
    const QPoint end = start + delta.toPoint();
    QMouseEvent move(QEvent::MouseMove, end, f.viewport()->mapToGlobal(end), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(f.viewport(), &move);
    QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, end);

    QCOMPARE(f.scene->selectedIds(), QList<uint>{id});
    QCOMPARE(spy.count(), edited ? 1 : 0);
    const QRectF expected = edited ? QRectF(100, 100, 80, 60).translated(delta / zoom)
                                   : QRectF(100, 100, 80, 60);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, expected);
}

void TestShapeItems::handleResize_data()
{
    QTest::addColumn<int>("handle");
    QTest::addColumn<QPointF>("delta");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("top-left outwards") << 0 << QPointF(-10, -20) << QRectF(90, 80, 90, 80);
    QTest::newRow("top-left past bottom-right stops at 2x2") << 0 << QPointF(200, 200)
                                                           << QRectF(178, 158, 2, 2);
    QTest::newRow("bottom-right past top-left stops at 2x2") << 3 << QPointF(-300, -300)
                                                           << QRectF(100, 100, 2, 2);
    QTest::newRow("top edge moves only top") << 4 << QPointF(30, 10) << QRectF(100, 110, 80, 50);
    QTest::newRow("right edge") << 7 << QPointF(20, 50) << QRectF(100, 100, 100, 60);
    QTest::newRow("bottom-left") << 2 << QPointF(10, 10) << QRectF(110, 100, 70, 70);
    QTest::newRow("right edge stops at the image border") << 7 << QPointF(300, 0)
                                                         << QRectF(100, 100, 300, 60);
    QTest::newRow("top-left stops at the image corner") << 0 << QPointF(-300, -300)
                                                       << QRectF(0, 0, 180, 160);
    QTest::newRow("bottom edge stops at the image border") << 5 << QPointF(0, 500)
                                                          << QRectF(100, 100, 80, 200);
}

void TestShapeItems::handleResize()
{
    QFETCH(int, handle);
    QFETCH(QPointF, delta);
    QFETCH(QRectF, expected);
    CanvasFixture f;
    // A pose dataset's box: resizing leaves its keypoints where they are on the image.
    const Annotation posed = poseBox("cat", QRectF(100, 100, 80, 60), {{120, 110}, {390, 290}}, {2, 1});
    const uint id = f.add(posed);
    f.scene->selectId(id, false);
    const QPointF h = BoxItem::handlePosition(QRectF(100, 100, 80, 60), handle);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::annotationEdited);
    f.drag(h, h + delta);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, expected);
    QCOMPARE(f.scene->shapeItem(id)->annotation().keypoints, posed.keypoints);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).value<Annotation>().rect, QRectF(100, 100, 80, 60));
    QCOMPARE(spy.at(0).at(2).value<Annotation>().rect, expected);
}

void TestShapeItems::moveClampedToImage_data()
{
    QTest::addColumn<QRectF>("start");
    QTest::addColumn<QPointF>("delta");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("free move") << QRectF(100, 100, 80, 60) << QPointF(30, -20) << QRectF(130, 80, 80, 60);
    QTest::newRow("against left edge keeps size") << QRectF(20, 100, 80, 60) << QPointF(-50, 0)
                                                  << QRectF(0, 100, 80, 60);
    QTest::newRow("against bottom-right corner") << QRectF(300, 200, 80, 60) << QPointF(60, 80)
                                                 << QRectF(320, 240, 80, 60);
    QTest::newRow("larger than image aligns right and bottom") << QRectF(-50, -50, 500, 400)
                                                                << QPointF(10, 10)
                                                                << QRectF(-100, -100, 500, 400);
}

void TestShapeItems::moveClampedToImage()
{
    QFETCH(QRectF, start);
    QFETCH(QPointF, delta);
    QFETCH(QRectF, expected);
    CanvasFixture f(QSize(400, 300), 1.0, QSize(900, 800));
    const Annotation posed = poseBox("cat", start, {{10, 20}, {0, 0}}, {2, 0});
    const uint id = f.add(posed);
    const QPointF from = start.intersected(QRectF(0, 0, 400, 300)).center();
    f.drag(from, from + delta);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, expected);
    QCOMPARE(f.scene->shapeItem(id)->annotation().keypoints, posed.keypoints);
}

void TestShapeItems::handlesOnlyOnSelectedBox()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 80, 60)));
    // Just inside the top-left corner, where handle 0 sits once the box is selected.
    f.drag(QPointF(102, 102), QPointF(122, 112));
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(120, 110, 80, 60));   // moved
    f.drag(QPointF(122, 112), QPointF(112, 102));   // now selected: resizes
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(110, 100, 90, 70));
}

void TestShapeItems::outerHalfOfHandleIsHit()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 80, 60)));
    f.scene->selectId(id, false);
    // 3 px outside the bottom-right corner: inside the handle's hit square, outside the box.
    f.drag(QPointF(183, 163), QPointF(203, 173));
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(100, 100, 100, 70));
    QCOMPARE(f.scene->selectedIds(), QList<uint>{id});
}

void TestShapeItems::ctrlPressKeepsSelection()
{
    CanvasFixture f;
    const uint a = f.add(box("cat", QRectF(20, 20, 50, 50)));
    const uint b = f.add(box("cat", QRectF(200, 20, 50, 50)));
    f.click(QPointF(40, 40));
    f.click(QPointF(220, 40), Qt::ControlModifier);
    QList<uint> ids = f.scene->selectedIds();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, (QList<uint>{a, b}));
    f.click(QPointF(220, 40));   // without Ctrl only the pressed one stays
    QCOMPARE(f.scene->selectedIds(), QList<uint>{b});
}

void TestShapeItems::rightPressSelectsOnlyThis()
{
    CanvasFixture f;
    const uint a = f.add(box("cat", QRectF(20, 20, 50, 50)));
    const uint b = f.add(polygon("dog", {{200, 20}, {260, 20}, {230, 80}}));
    f.scene->selectId(a, false);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    f.press(QPointF(230, 40), Qt::RightButton);
    f.move(QPointF(260, 90));
    f.release(QPointF(260, 90), Qt::RightButton);
    QCOMPARE(f.scene->selectedIds(), QList<uint>{b});
    QCOMPARE(edited.count(), 0);
    QCOMPARE(f.scene->shapeItem(b)->annotation().points.first(), QPointF(200, 20));
}

void TestShapeItems::doubleClickRequestsConfirm()
{
    CanvasFixture f;
    const uint id = f.add(polygon("dog", {{100, 100}, {200, 100}, {150, 200}}));
    QSignalSpy spy(f.scene.get(), &AnnotationScene::confirmRequested);
    f.doubleClick(QPointF(150, 130));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toUInt(), id);
}

void TestShapeItems::dragBackToStartIsNoEdit()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(0, 100, 80, 60)));
    QSignalSpy spy(f.scene.get(), &AnnotationScene::annotationEdited);
    f.drag(QPointF(40, 130), QPointF(10, 130));   // pushed against the left border: no change
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, QRectF(0, 100, 80, 60));
    QCOMPARE(spy.count(), 0);
}

void TestShapeItems::stateAppliedDuringGestureStays_data()
{
    QTest::addColumn<bool>("isPolygon");
    QTest::addColumn<bool>("movedFirst");
    QTest::newRow("box pressed, not moved") << false << false;
    QTest::newRow("box mid-drag") << false << true;
    QTest::newRow("polygon pressed, not moved") << true << false;
    QTest::newRow("polygon vertex mid-drag") << true << true;
}

void TestShapeItems::stateAppliedDuringGestureStays()
{
    // An undo, nudge or confirmation that reaches the item while the button is still down: the
    // state the window applied must survive the rest of the gesture, with no second edit.
    QFETCH(bool, isPolygon);
    QFETCH(bool, movedFirst);
    CanvasFixture f;
    const uint id = f.add(isPolygon ? polygon("dog", {{100, 100}, {200, 100}, {150, 200}})
                                    : box("cat", QRectF(100, 100, 80, 60)));
    f.scene->selectId(id, false);
    const QPointF grip = isPolygon ? QPointF(200, 100) : QPointF(140, 130);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    f.press(grip);
    if (movedFirst)
        f.move(grip + QPointF(20, 10));
    Annotation applied = isPolygon ? polygon("dog", {{10, 10}, {60, 10}, {30, 50}})
                                   : box("cat", QRectF(10, 10, 50, 40));
    applied.label = QStringLiteral("bus");
    f.scene->applyState(id, applied);
    f.move(grip + QPointF(40, 30));
    f.release(grip + QPointF(40, 30));
    applied.id = id;
    QCOMPARE(f.scene->shapeItem(id)->annotation(), applied);
    QCOMPARE(edited.count(), 0);
}

void TestShapeItems::vertexDragStaysOnBorder()
{
    CanvasFixture f;
    const QList<QPointF> pts{{100, 100}, {200, 100}, {150, 200}};
    const uint id = f.add(polygon("dog", pts));
    f.scene->selectId(id, false);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::annotationEdited);
    f.drag(QPointF(202, 101), QPointF(450, 150));   // within 5 px of vertex 1, out to the right
    const QList<QPointF> after = f.scene->shapeItem(id)->annotation().points;
    QCOMPARE(after.size(), 3);
    QCOMPARE(after.at(0), pts.at(0));
    QCOMPARE(after.at(1), QPointF(400, 150));
    QCOMPARE(after.at(2), pts.at(2));
    QCOMPARE(spy.count(), 1);
}

void TestShapeItems::polygonMoveClamped()
{
    CanvasFixture f;
    const uint id = f.add(polygon("dog", {{100, 100}, {200, 100}, {150, 200}}));
    f.drag(QPointF(150, 130), QPointF(150, 330));   // 200 down: bottom would be 400 > 300
    const QList<QPointF> expected{{100, 200}, {200, 200}, {150, 300}};
    QCOMPARE(f.scene->shapeItem(id)->annotation().points, expected);
}

void TestShapeItems::polygonPressOutsideFallsThrough()
{
    CanvasFixture f;
    const uint poly = f.add(polygon("dog", {{100, 100}, {200, 100}, {100, 200}}));
    f.scene->selectId(poly, false);
    // Inside the polygon's bounding box but outside the triangle: rubber band, not a move.
    f.drag(QPointF(190, 190), QPointF(230, 230));
    QCOMPARE(f.scene->shapeItem(poly)->annotation().points.first(), QPointF(100, 100));
    QVERIFY(f.scene->selectedIds().isEmpty());
}

void TestShapeItems::pendingEditConfirms_data()
{
    QTest::addColumn<bool>("isPolygon");
    QTest::newRow("box") << false;
    QTest::newRow("polygon") << true;
}

void TestShapeItems::pendingEditConfirms()
{
    QFETCH(bool, isPolygon);
    CanvasFixture f;
    Annotation a = isPolygon ? polygon("dog", {{100, 100}, {200, 100}, {150, 200}})
                             : box("cat", QRectF(100, 100, 80, 60));
    a.pending = 1;
    a.confidence = 0.8712;
    const uint id = f.add(a);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::annotationEdited);
    f.drag(QPointF(150, 130), QPointF(170, 140));
    QCOMPARE(spy.count(), 1);
    const auto before = spy.at(0).at(1).value<Annotation>();
    const auto after = spy.at(0).at(2).value<Annotation>();
    QCOMPARE(spy.at(0).at(0).toUInt(), id);
    QCOMPARE(before.pending, 1);
    QCOMPARE(after.pending, 0);
    QCOMPARE(after.confidence, 0.8712);
    QCOMPARE(f.scene->shapeItem(id)->annotation(), after);
    QCOMPARE(f.scene->pendingCount(), 0);
}

void TestShapeItems::paintPendingColour()
{
    CanvasFixture f;
    Annotation a = box(QStringLiteral("person"), QRectF(100, 100, 120, 80));
    a.pending = 1;
    const uint id = f.add(a);
    const QColor pending(0xE2, 0xB9, 0x3D);
    const QColor labelled = labelColor(QStringLiteral("person"));

    auto countOnLeftEdge = [&](const QImage &img, const QColor &c) {
        int n = 0;
        for (int y = 130; y < 175; ++y) {   // below the tag
            const QPoint p = f.at(QPointF(100, y));
            if (nearColor(img.pixelColor(p), c, 24))
                ++n;
        }
        return n;
    };
    QImage img = f.grab();
    const int dashed = countOnLeftEdge(img, pending);
    QVERIFY2(dashed > 10, qPrintable(QString::number(dashed)));
    QVERIFY2(dashed < 45, "a pending outline is dashed");
    QCOMPARE(countOnLeftEdge(img, labelled), 0);

    f.drag(QPointF(150, 150), QPointF(160, 150));   // an edit confirms: solid label colour
    QCOMPARE(f.scene->shapeItem(id)->annotation().pending, 0);
    f.drag(QPointF(160, 150), QPointF(150, 150));
    f.scene->selectId(0, false);   // no handles or halo over the edge
    img = f.grab();
    QCOMPARE(countOnLeftEdge(img, pending), 0);
    QCOMPARE(countOnLeftEdge(img, labelled), 45);
}

void TestShapeItems::paintSelectedHandles()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 120, 80)));
    const QColor handleFill(0xE6, 0xE9, 0xEF);
    const QList<QPointF> corners{{100, 100}, {220, 100}, {100, 180}, {220, 180}, {160, 180}};
    auto handlePixels = [&](const QImage &img) {
        int n = 0;
        for (const QPointF &c : corners) {
            const QPoint p = f.at(c);
            // Inside the 6 x 6 square, beside the outline.
            if (nearColor(img.pixelColor(p + QPoint(1, 1)), handleFill, 8))
                ++n;
        }
        return n;
    };
    QCOMPARE(handlePixels(f.grab()), 0);
    f.scene->selectId(id, false);
    QCOMPARE(handlePixels(f.grab()), int(corners.size()));
    // White selection outline 2 px outside the box, mid left edge.
    const QColor halo = f.grab().pixelColor(f.at(QPointF(100, 150)) - QPoint(2, 0));
    QVERIFY(nearColor(halo, Qt::white, 40));
}

// Labelled keypoints show as dots while the box is selected, even outside it; an unlabelled one
// (visibility 0) shows nowhere.
void TestShapeItems::paintKeypointsOfSelectedBox()
{
    CanvasFixture f;
    const QImage empty = f.grab();
    const QPointF outside(300, 250);
    const QPointF unlabelled(40, 40);
    const uint id = f.add(poseBox("cat", QRectF(100, 100, 120, 80), {outside, unlabelled}, {2, 0}));
    const QImage unselected = f.grab();
    QCOMPARE(unselected.pixelColor(f.at(outside)), empty.pixelColor(f.at(outside)));
    f.scene->selectId(id, false);
    const QImage selected = f.grab();
    // The dot's white ring, 4 px from its centre.
    QVERIFY(nearColor(selected.pixelColor(f.at(outside) + QPoint(4, 0)), Qt::white, 80));
    QCOMPARE(selected.pixelColor(f.at(unlabelled)), empty.pixelColor(f.at(unlabelled)));
}

void TestShapeItems::paintOnePointPolygonDrawsNothing()
{
    CanvasFixture f;
    const QImage empty = f.grab();
    const uint id = f.add(polygon("dog", {{150, 150}}));
    QCOMPARE(f.grab(), empty);
    f.scene->selectId(id, false);
    QCOMPARE(f.grab(), empty);
    f.scene->applyState(id, polygon("dog", {{150, 150}, {200, 200}}));
    QVERIFY(f.grab() != empty);
}

void TestShapeItems::detailedOutline_data()
{
    QTest::addColumn<qsizetype>("points");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<bool>("handles");   // each vertex drawn and hit as its own handle

    QTest::newRow("few points: every one drawn") << qsizetype(300) << 1.0 << true;
    QTest::newRow("few points, zoomed out") << qsizetype(300) << 0.1 << true;
    QTest::newRow("at the limit: every one drawn") << PolyItem::kDetailPoints << 1.0 << true;
    QTest::newRow("just past the limit") << PolyItem::kDetailPoints + 1 << 1.0 << false;
    QTest::newRow("100,000 points at fit zoom") << qsizetype(100000) << 0.4 << false;
    QTest::newRow("100,000 points at 800 %") << qsizetype(100000) << 8.0 << false;
    QTest::newRow("a million points at 100 %") << qsizetype(1000000) << 1.0 << false;
    QTest::newRow("a million points at 3200 %") << qsizetype(1000000) << 32.0 << false;
}

// A polygon past the limit is drawn with at most kMaxDrawnPoints of its own points, in order,
// within a screen pixel of the whole; the item's record keeps every point.
void TestShapeItems::detailedOutline()
{
    QFETCH(qsizetype, points);
    QFETCH(double, zoom);
    QFETCH(bool, handles);
    const QList<QPointF> ring = wavyRing(points, {200, 150}, 120, 64);
    PolyItem item(polygon("ring", ring));
    item.setViewScale(zoom);
    item.setSelected(true);

    const QPolygonF drawn = item.drawnOutline();
    QCOMPARE(item.annotation().points, ring);
    if (handles) {
        QCOMPARE(drawn, QPolygonF(ring));
    } else {
        QVERIFY2(drawn.size() <= PolyItem::kMaxDrawnPoints, qPrintable(QString::number(drawn.size())));
        QVERIFY(drawn.size() >= 50);   // still a wavy ring, not a few corners
    }
    qsizetype at = 0;
    for (const QPointF &p : drawn) {
        while (at < ring.size() && ring.at(at) != p)
            ++at;
        QVERIFY2(at < ring.size(), "a drawn point that the record lacks, or out of order");
    }
    const QRectF full = QPolygonF(ring).boundingRect();
    const QRectF shown = drawn.boundingRect();
    const double pixel = 1.5 / zoom;
    QVERIFY(std::abs(full.left() - shown.left()) <= pixel && std::abs(full.right() - shown.right()) <= pixel);
    QVERIFY(std::abs(full.top() - shown.top()) <= pixel && std::abs(full.bottom() - shown.bottom()) <= pixel);
    QCOMPARE(item.vertexAt(ring.at(points / 3)) >= 0, handles);

    // A move renews the drawn outline and keeps every point.
    Annotation moved = item.annotation();
    for (QPointF &p : moved.points)
        p += QPointF(10, 0);
    item.setAnnotation(moved);
    QCOMPARE(item.annotation().points.size(), points);
    QCOMPARE(item.drawnOutline().first(), ring.first() + QPointF(10, 0));
    QVERIFY(item.boundingRect().contains(full.translated(10, 0)));
}

void TestShapeItems::paintDifficultTagWithEmptyLabel()
{
    CanvasFixture f;
    Annotation a = box(QString(), QRectF(100, 100, 150, 80));
    const uint id = f.add(a);
    const QPoint probe = f.at(QPointF(100, 100)) + QPoint(3, 5);   // inside a tag, left of its text
    QVERIFY(!nearColor(f.grab().pixelColor(probe), labelColor(QString()), 6));   // no text, no tag
    a.difficult = true;
    f.scene->applyState(id, a);
    QVERIFY(nearColor(f.grab().pixelColor(probe), labelColor(QString()), 6));
}

void TestShapeItems::difficultTagTranslated_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("difficult");
    QTest::addColumn<QString>("tag");
    QTest::newRow("Chinese") << "zh_CN" << true << "cat · 困难";
    QTest::newRow("English") << "en" << true << "cat · difficult";
    QTest::newRow("German") << "de" << true << "cat · schwierig";
    QTest::newRow("not difficult: the label alone") << "en" << false << "cat";
}

void TestShapeItems::difficultTagTranslated()
{
    QFETCH(QString, language);
    QFETCH(bool, difficult);
    QFETCH(QString, tag);
    setLanguage(language);
    const auto restore = qScopeGuard([] { setLanguage(QStringLiteral("zh_CN")); });
    Annotation a = box(QStringLiteral("cat"), QRectF(100, 100, 150, 80));
    a.difficult = difficult;
    BoxItem item(a);
    QCOMPARE(item.tagText(), tag);
}

void TestShapeItems::hoverCursor_data()
{
    QTest::addColumn<bool>("isPolygon");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QPointF>("pos");
    QTest::addColumn<int>("cursor");
    // Box (100, 100, 80, 60); polygon (100,100) (200,100) (150,200).
    QTest::newRow("box top-left handle") << false << true << QPointF(101, 101) << int(Qt::SizeFDiagCursor);
    QTest::newRow("box top-right handle") << false << true << QPointF(179, 100) << int(Qt::SizeBDiagCursor);
    QTest::newRow("box bottom edge") << false << true << QPointF(140, 160) << int(Qt::SizeVerCursor);
    QTest::newRow("box right edge") << false << true << QPointF(181, 130) << int(Qt::SizeHorCursor);
    QTest::newRow("box inside") << false << true << QPointF(130, 120) << int(Qt::SizeAllCursor);
    QTest::newRow("unselected box: no handles, arrow") << false << false << QPointF(101, 101) << int(Qt::ArrowCursor);
    QTest::newRow("polygon vertex") << true << true << QPointF(199, 102) << int(Qt::CrossCursor);
    QTest::newRow("polygon inside") << true << true << QPointF(150, 120) << int(Qt::SizeAllCursor);
    QTest::newRow("unselected polygon vertex") << true << false << QPointF(149, 197) << int(Qt::SizeAllCursor);
}

void TestShapeItems::hoverCursor()
{
    QFETCH(bool, isPolygon);
    QFETCH(bool, selected);
    QFETCH(QPointF, pos);
    QFETCH(int, cursor);
    CanvasFixture f;
    const uint id = f.add(isPolygon ? polygon("dog", {{100, 100}, {200, 100}, {150, 200}})
                                    : box("cat", QRectF(100, 100, 80, 60)));
    if (selected)
        f.scene->selectId(id, false);
    f.move(QPointF(350, 280));
    f.move(pos);
    ShapeItemBase *item = f.scene->shapeItem(id);
    QVERIFY(item->hasCursor());
    QCOMPARE(int(item->cursor().shape()), cursor);
    QCOMPARE(int(f.viewport()->cursor().shape()), cursor);
    f.move(QPointF(350, 280));   // leaving restores the arrow on the item
    QCOMPARE(int(item->cursor().shape()), int(Qt::ArrowCursor));
}

void TestShapeItems::hoveredHandleIsAccent()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 120, 80)));
    f.scene->selectId(id, false);
    const QPoint probe = f.at(QPointF(220, 180)) + QPoint(1, 1);   // inside handle 3
    QVERIFY(nearColor(f.grab().pixelColor(probe), QColor(0xE6, 0xE9, 0xEF), 8));
    f.move(QPointF(221, 181));
    QVERIFY(nearColor(f.grab().pixelColor(probe), QColor(0x4C, 0x8D, 0xFF), 8));
    f.move(QPointF(350, 280));
    QVERIFY(nearColor(f.grab().pixelColor(probe), QColor(0xE6, 0xE9, 0xEF), 8));
}

void TestShapeItems::decorationsInsideBounds()
{
    CanvasFixture f;
    // A flat box: its tag hangs below the outline.
    Annotation flat = box(QStringLiteral("person"), QRectF(100, 100, 120, 4));
    const uint a = f.add(flat);
    QVERIFY(f.scene->shapeItem(a)->boundingRect().bottom() >= 100 + 14);
    // A thin polygon: its tag is never elided and reaches far to the right.
    const uint b = f.add(polygon(QStringLiteral("traffic light"), {{50, 200}, {54, 200}, {52, 260}}));
    QVERIFY(f.scene->shapeItem(b)->boundingRect().right() >= 50 + 40);
    // A narrow box with a confidence: the badge reaches left of the outline.
    Annotation narrow = box(QString(), QRectF(300, 100, 22, 40));
    narrow.confidence = 0.5;
    const uint c = f.add(narrow);
    QVERIFY(f.scene->shapeItem(c)->boundingRect().left() < 300 - 4);
    // The hit shape stays the outline.
    QVERIFY(!f.scene->shapeItem(a)->shape().contains(QPointF(110, 110)));
}

void TestShapeItems::movingLeavesNoTraces_data()
{
    QTest::addColumn<bool>("isPolygon");
    QTest::addColumn<bool>("wideViewFont");
    QTest::newRow("flat box") << false << false;
    QTest::newRow("thin polygon") << true << false;
    // The window's style sheet gives the view another font than the application's; tags are
    // sized with the painter's font.
    QTest::newRow("thin polygon, view font wider than the application's") << true << true;
}

void TestShapeItems::movingLeavesNoTraces()
{
    QFETCH(bool, isPolygon);
    QFETCH(bool, wideViewFont);
    CanvasFixture f(QSize(400, 300), 2.0, QSize(900, 700));
    if (wideViewFont) {
        QFont font = f.view->font();
        font.setLetterSpacing(QFont::AbsoluteSpacing, 6);
        f.view->setFont(font);
    }
    QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
    auto onScreenIsWhole = [&f] {
        return f.view->screen()->grabWindow(f.view->winId()).toImage().convertToFormat(QImage::Format_RGB32)
            == f.view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    Annotation a = isPolygon ? polygon(QStringLiteral("traffic light"), {{100, 100}, {104, 100}, {102, 160}})
                             : box(QStringLiteral("traffic light"), QRectF(100, 100, 60, 3));
    a.confidence = 0.93;
    const uint id = f.add(a);
    QApplication::processEvents();
    QTRY_VERIFY(onScreenIsWhole());   // the whole tag is on screen, not only what its old bounds held
    // A real drag with partial repaints of the on-screen buffer.
    f.drag(isPolygon ? QPointF(102, 120) : QPointF(120, 101.5), isPolygon ? QPointF(132, 170) : QPointF(150, 151.5));
    QCOMPARE(f.scene->annotations().first().id, id);
    QVERIFY(f.scene->annotations().first() != a);
    f.scene->selectId(0, false);
    QApplication::processEvents();
    QTRY_VERIFY(onScreenIsWhole());
}

void TestShapeItems::keptShapesAreOnlyShown_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("a click on one selects nothing") << "click";
    QTest::newRow("a box drawn over one") << "draw";
    QTest::newRow("a band over it takes only the editable shape") << "band";
    QTest::newRow("hidden with every shape") << "hide all";
    QTest::newRow("the delete key leaves them") << "delete";
    QTest::newRow("gone with the image") << "clear";
}

// A labelme file's circle, line and point: drawn, never an annotation of the scene.
void TestShapeItems::keptShapesAreOnlyShown()
{
    QFETCH(QString, how);
    CanvasFixture f;
    const uint cat = f.add(box("cat", QRectF(300, 200, 50, 50), 1));
    const QList<KeptShape> kept{{QStringLiteral("circle"), QStringLiteral("ball"), {{100, 100}, {140, 100}}},
                                {QStringLiteral("line"), QStringLiteral("wire"), {{10, 250}, {200, 280}}},
                                {QStringLiteral("point"), QStringLiteral("nose"), {{220, 60}}}};
    f.scene->setKeptShapes(kept);
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    const QList<Annotation> records = f.scene->annotations();
    QVERIFY(f.scene->keptShapesShown());
    QCOMPARE(f.scene->keptShapes().size(), 3);
    QVERIFY(!f.scene->shapeItemAt(QPointF(100, 100)));

    if (how == QLatin1String("click")) {
        f.scene->setMode(AnnotationScene::SelectMode);
        f.click(QPointF(100, 100));
        f.click(QPointF(220, 60));
        QVERIFY(f.scene->selectedIds().isEmpty());
        f.drag(QPointF(100, 100), QPointF(150, 150));
        QCOMPARE(edited.count(), 0);
    } else if (how == QLatin1String("draw")) {
        f.scene->setMode(AnnotationScene::RectMode);
        f.drag(QPointF(90, 90), QPointF(150, 130));
        QCOMPARE(drafted.count(), 1);
        QCOMPARE(drafted.at(0).at(0).value<Annotation>().rect, QRectF(90, 90, 60, 40));
    } else if (how == QLatin1String("band")) {
        f.scene->setMode(AnnotationScene::SelectMode);
        f.drag(QPointF(5, 5), QPointF(390, 290));
        QCOMPARE(f.scene->selectedIds(), QList<uint>{cat});
    } else if (how == QLatin1String("hide all")) {
        const QImage shown = f.view->grab().toImage();
        f.scene->setAllHidden(true);
        QVERIFY(f.view->grab().toImage() != shown);   // they were drawn
        QVERIFY(!f.scene->keptShapesShown());
        f.scene->setAnnotations(records);   // the next image
        f.scene->setKeptShapes(kept);
        QVERIFY(!f.scene->keptShapesShown());
        f.scene->setAllHidden(false);
        QVERIFY(f.scene->keptShapesShown());
    } else if (how == QLatin1String("delete")) {
        f.scene->setMode(AnnotationScene::SelectMode);
        f.click(QPointF(100, 100));
        QTest::keyClick(f.viewport(), Qt::Key_Delete);
        QCOMPARE(f.scene->keptShapes().size(), 3);
    } else if (how == QLatin1String("clear")) {
        f.scene->clear();
        QVERIFY(f.scene->keptShapes().isEmpty());
        QVERIFY(!f.scene->keptShapesShown());
        QVERIFY(f.scene->items().isEmpty());
        return;
    }
    QCOMPARE(f.scene->annotations(), records);
    QCOMPARE(f.scene->keptShapes().size(), 3);
}

BRINDLE_TEST_MAIN(TestShapeItems)
#include "tst_shapeitems.moc"
