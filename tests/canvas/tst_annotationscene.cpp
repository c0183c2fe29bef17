#include "canvas/box/boxitem.h"
#include "canvas/polygon/polydraftitem.h"
#include "canvas/shapekindregistry.h"
#include "canvasfixture.h"
#include "shared/language.h"
#include "storage/annotationgeometry.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "testmain.h"

#include <QGraphicsSceneContextMenuEvent>
#include <QSignalSpy>

class TestAnnotationScene : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerAnnotationMetaTypes(); }

    void drawBox_data();
    void drawBox();
    void tinyDragDraftsNothing_data();
    void tinyDragDraftsNothing();
    void pressOnShape_data();
    void pressOnShape();

    void clickOnEmptyCanvas_data();
    void clickOnEmptyCanvas();
    void rubberBand_data();
    void rubberBand();
    void pickedOrSelectedForTheUser_data();
    void pickedOrSelectedForTheUser();

    void closePolygon_data();
    void closePolygon();
    void polygonHintAndDraftItem();
    void polygonWithTwoPointsIsDropped();
    void switchingModeWhileDrafting_data();
    void switchingModeWhileDrafting();
    void polygonModeEditsShapesBeforeFirstPoint();
    void eachKindDrawsAndShowsItsOwn_data();
    void eachKindDrawsAndShowsItsOwn();
    void switchingToolsMidDrawingLeavesNoPreview_data();
    void switchingToolsMidDrawingLeavesNoPreview();

    void idsFromSetAnnotations();
    void applyStateSignals();
    void applyStateRemovesSelected();
    void nudge_data();
    void nudge();
    void rotatedBoxGestures_data();
    void rotatedBoxGestures();
    void turnTurnsOnlyRotatedBoxes();
    void pendingReadingOrder();
    void contextMenuOnShape();
    void hiddenShapes_data();
    void hiddenShapes();
    void clearResetsEverything();
    void backgroundAndBorder();
};

void TestAnnotationScene::drawBox_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("inside") << QPointF(50, 40) << QPointF(150, 120) << QRectF(50, 40, 100, 80);
    QTest::newRow("dragged up-left") << QPointF(150, 120) << QPointF(50, 40) << QRectF(50, 40, 100, 80);
    QTest::newRow("cut at right and bottom") << QPointF(300, 200) << QPointF(480, 390)
                                             << QRectF(300, 200, 100, 100);
    QTest::newRow("cut at left and top") << QPointF(60, 50) << QPointF(-70, -90) << QRectF(0, 0, 60, 50);
}

void TestAnnotationScene::drawBox()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QRectF, expected);
    CanvasFixture f(QSize(400, 300), 1.0, QSize(900, 800));
    f.scene->setMode(AnnotationScene::RectMode);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::shapeDrafted);
    f.drag(from, to);
    QCOMPARE(spy.count(), 1);
    const auto draft = spy.at(0).at(0).value<Annotation>();
    QCOMPARE(draft.kind, int(Annotation::Rect));
    QCOMPARE(draft.rect, expected);
    QCOMPARE(draft.id, 0u);
    QVERIFY(draft.label.isEmpty());
    QCOMPARE(draft.confidence, -1.0);
    QCOMPARE(draft.pending, 0);
    QVERIFY(!f.scene->isInteracting());
    QVERIFY(f.scene->annotations().isEmpty());   // a draft only becomes a shape through applyState
}

void TestAnnotationScene::tinyDragDraftsNothing_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPoint>("screenDelta");
    QTest::newRow("2 px wide at 100%") << 1.0 << QPoint(2, 60);
    QTest::newRow("2 px high at 400%") << 4.0 << QPoint(80, 2);
    QTest::newRow("cut to a sliver at the border") << 1.0 << QPoint(0, 0);
}

void TestAnnotationScene::tinyDragDraftsNothing()
{
    QFETCH(double, zoom);
    QFETCH(QPoint, screenDelta);
    CanvasFixture f(QSize(400, 300), zoom);
    const uint id = f.add(box("cat", QRectF(10, 10, 30, 30)));
    f.scene->selectId(id, false);
    f.scene->setMode(AnnotationScene::RectMode);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::shapeDrafted);
    QPoint start = f.at(QPointF(200, 150));
    QPoint end = start + screenDelta;
    if (screenDelta.isNull()) {   // 2 image pixels inside the right edge, dragged far out
        start = f.at(QPointF(398, 100));
        end = f.at(QPointF(398, 100)) + QPoint(60, 60);
    }
    f.pressAt(start, Qt::LeftButton);
    f.moveTo(end);
    f.releaseAt(end, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QVERIFY(f.scene->selectedIds().isEmpty());
}

void TestAnnotationScene::pressOnShape_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<bool>("selected");     // the box is selected before the press
    QTest::addColumn<QPointF>("from");      // a drag from here 20 pixels right and 30 down
    QTest::addColumn<QRectF>("drafted");    // the box drafted; null: none
    QTest::addColumn<int>("draftPoints");   // polygon points placed
    QTest::addColumn<QRectF>("shapeAfter"); // the box that was under the press
    QTest::addColumn<int>("cursor");        // over the press point before it, Shift held or not

    const QRectF box(100, 100, 50, 50);
    const int rect = AnnotationScene::RectMode;
    const int poly = AnnotationScene::PolygonMode;
    const int select = AnnotationScene::SelectMode;
    const int cross = Qt::CrossCursor;
    const int arrow = Qt::ArrowCursor;   // an unselected box offers no handle
    QTest::newRow("box mode: a press on a box grabs it")
        << rect << false << false << QPointF(120, 120) << QRectF() << 0 << QRectF(120, 130, 50, 50) << arrow;
    QTest::newRow("box mode, Shift: a new box starts on it")
        << rect << true << false << QPointF(120, 120) << QRectF(120, 120, 20, 30) << 0 << box << cross;
    QTest::newRow("box mode, Shift: a new box starts on a selected box's handle")
        << rect << true << true << QPointF(150, 150) << QRectF(150, 150, 20, 30) << 0 << box << cross;
    QTest::newRow("box mode, Shift on empty canvas: a box as without it")
        << rect << true << false << QPointF(20, 20) << QRectF(20, 20, 20, 30) << 0 << box << cross;
    QTest::newRow("polygon mode: a press on a box grabs it")
        << poly << false << false << QPointF(120, 120) << QRectF() << 0 << QRectF(120, 130, 50, 50) << arrow;
    QTest::newRow("polygon mode, Shift: the first point goes on it")
        << poly << true << false << QPointF(120, 120) << QRectF() << 1 << box << cross;
    QTest::newRow("polygon mode, Shift: the first point goes on a selected box's handle")
        << poly << true << true << QPointF(150, 150) << QRectF() << 1 << box << cross;
    // Select mode draws nothing: Shift does not change what a press does there.
    QTest::newRow("select mode, Shift: the press still grabs")
        << select << true << false << QPointF(120, 120) << QRectF() << 0 << QRectF(120, 130, 50, 50) << arrow;
}

void TestAnnotationScene::pressOnShape()
{
    QFETCH(int, mode);
    QFETCH(bool, shift);
    QFETCH(bool, selected);
    QFETCH(QPointF, from);
    QFETCH(QRectF, drafted);
    QFETCH(int, draftPoints);
    QFETCH(QRectF, shapeAfter);
    QFETCH(int, cursor);

    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 50, 50)));
    if (selected)
        f.scene->selectId(id, false);
    f.scene->setMode(mode);
    // The drawing modes' cursor, as the window sets it.
    f.view->setCanvasCursor(mode == AnnotationScene::SelectMode ? Qt::ArrowCursor : Qt::CrossCursor);
    const Qt::KeyboardModifiers held = shift ? Qt::ShiftModifier : Qt::NoModifier;
    f.move(QPointF(300, 250), held);
    f.move(from, held);
    QCOMPARE(int(f.viewport()->cursor().shape()), cursor);
    QSignalSpy draftedSpy(f.scene.get(), &AnnotationScene::shapeDrafted);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    // Shift is read at the press only; the moves and the release carry it as a held key would.
    f.drag(from, from + QPointF(20, 30), held);

    QCOMPARE(draftedSpy.count(), drafted.isNull() ? 0 : 1);
    if (!drafted.isNull())
        QCOMPARE(draftedSpy.at(0).at(0).value<Annotation>().rect, drafted);
    QCOMPARE(f.scene->draftPoints().size(), draftPoints);
    if (draftPoints > 0)
        QCOMPARE(f.scene->draftPoints().first(), from);
    QCOMPARE(edited.count(), shapeAfter == QRectF(100, 100, 50, 50) ? 0 : 1);
    QCOMPARE(f.scene->shapeItem(id)->annotation().rect, shapeAfter);
}

void TestAnnotationScene::clickOnEmptyCanvas_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("keepsSelection");
    QTest::newRow("plain click clears") << Qt::KeyboardModifiers() << false;
    QTest::newRow("ctrl click keeps") << Qt::KeyboardModifiers(Qt::ControlModifier) << true;
}

void TestAnnotationScene::clickOnEmptyCanvas()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, keepsSelection);
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(10, 10, 30, 30)));
    f.scene->selectId(id, false);
    QSignalSpy selected(f.scene.get(), &AnnotationScene::selectedIdChanged);
    const QPoint p = f.at(QPointF(200, 150));
    f.pressAt(p, Qt::LeftButton, modifiers);
    f.moveTo(p + QPoint(2, 2), modifiers);   // under 3 x 3 screen pixels
    f.releaseAt(p + QPoint(2, 2), Qt::LeftButton, modifiers);
    QCOMPARE(f.scene->hasSelection(), keepsSelection);
    if (!keepsSelection) {
        QVERIFY(!selected.isEmpty());
        QCOMPARE(selected.last().at(0).toUInt(), 0u);
    }
}

void TestAnnotationScene::rubberBand_data()
{
    QTest::addColumn<bool>("ctrl");
    QTest::newRow("replaces selection") << false;
    QTest::newRow("ctrl adds to selection") << true;
}

void TestAnnotationScene::rubberBand()
{
    QFETCH(bool, ctrl);
    CanvasFixture f;
    const uint a = f.add(box("cat", QRectF(10, 10, 30, 30)));
    const uint b = f.add(box("cat", QRectF(200, 100, 40, 40)));
    const uint c = f.add(polygon("dog", {{300, 200}, {350, 200}, {320, 260}}));
    const uint far = f.add(box("cat", QRectF(350, 20, 30, 30)));
    f.scene->selectId(a, false);
    const Qt::KeyboardModifiers m = ctrl ? Qt::ControlModifier : Qt::NoModifier;
    // The band touches b and c only partly: intersection is enough.
    f.drag(QPointF(190, 250), QPointF(305, 125), m);
    QList<uint> ids = f.scene->selectedIds();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, ctrl ? (QList<uint>{a, b, c}) : (QList<uint>{b, c}));
    QVERIFY(!ids.contains(far));
    QVERIFY(!f.scene->isInteracting());
}

// Only a selection the user made takes the digits and arrows; one made for them does not.
void TestAnnotationScene::pickedOrSelectedForTheUser_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("picked");
    QTest::newRow("a click on the shape") << "click" << true;
    QTest::newRow("a Ctrl+click added to one made for the user") << "ctrl-click" << true;
    QTest::newRow("a frame") << "band" << true;
    QTest::newRow("a right press (a menu's target)") << "right" << false;
    QTest::newRow("selected for the user") << "select" << false;
    QTest::newRow("chosen by the user elsewhere (a row, A / D)") << "pick" << true;
}

void TestAnnotationScene::pickedOrSelectedForTheUser()
{
    QFETCH(QString, how);
    QFETCH(bool, picked);
    CanvasFixture f;
    const uint a = f.add(box("cat", QRectF(10, 10, 30, 30)));
    const uint b = f.add(box("dog", QRectF(200, 100, 40, 40)));
    f.scene->selectId(a, false);   // as after drawing it
    QVERIFY(!f.scene->hasPointedSelection());
    if (how == u"click") {
        f.press(QPointF(220, 120));
        f.release(QPointF(220, 120));
    } else if (how == u"ctrl-click") {
        f.press(QPointF(220, 120), Qt::LeftButton, Qt::ControlModifier);
        f.release(QPointF(220, 120), Qt::LeftButton, Qt::ControlModifier);
    } else if (how == u"band") {
        f.drag(QPointF(190, 90), QPointF(260, 150));
    } else if (how == u"right") {
        f.press(QPointF(220, 120), Qt::RightButton);
        f.release(QPointF(220, 120), Qt::RightButton);
    } else if (how == u"select") {
        f.scene->selectId(b, true);
    } else if (how == u"pick") {
        f.scene->selectId(b, true, true);
    }
    QVERIFY(f.scene->selectedIds().contains(b));
    QCOMPARE(f.scene->hasPointedSelection(), picked);
}

void TestAnnotationScene::closePolygon_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("expectedPoints");
    QTest::newRow("click within 8 px of the first point") << "start" << 4;
    QTest::newRow("double-click") << "double" << 5;
    QTest::newRow("enter") << "enter" << 4;
    QTest::newRow("return") << "return" << 4;
    QTest::newRow("double-click on the first point") << "doubleStart" << 4;
    QTest::newRow("double-click whose second click moved 2 px") << "doubleJitter" << 5;
}

void TestAnnotationScene::closePolygon()
{
    QFETCH(QString, how);
    QFETCH(int, expectedPoints);
    CanvasFixture f;
    f.scene->setMode(AnnotationScene::PolygonMode);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::shapeDrafted);
    const QList<QPointF> corners{{100, 100}, {250, 100}, {250, 200}, {100, 200}};
    for (const QPointF &p : corners) {
        f.click(p);
        f.move(p + QPointF(5, 5));   // live vertex
    }
    QCOMPARE(f.scene->draftPoints().size(), 4);
    QCOMPARE(spy.count(), 0);
    QList<QPointF> expected = corners;
    if (how == "start") {
        f.click(QPointF(104, 103));   // |dx| + |dy| = 7 <= 8
    } else if (how == "double") {
        f.doubleClick(QPointF(170, 240));
        expected.append(QPointF(170, 240));
    } else if (how == "doubleJitter") {
        f.click(QPointF(170, 240));
        QTest::mouseDClick(f.viewport(), Qt::LeftButton, {}, f.at(QPointF(172, 240)));
        f.releaseAt(f.at(QPointF(172, 240)), Qt::LeftButton);
        expected.append(QPointF(170, 240));
    } else if (how == "doubleStart") {
        // The first click closes already; the double-click that follows hits an empty draft.
        f.doubleClick(QPointF(101, 101));
    } else {
        QTest::keyClick(f.view.get(), how == "enter" ? Qt::Key_Enter : Qt::Key_Return);
    }
    QCOMPARE(spy.count(), 1);
    const auto draft = spy.at(0).at(0).value<Annotation>();
    QCOMPARE(draft.kind, int(Annotation::Polygon));
    QCOMPARE(draft.points.size(), expectedPoints);
    QCOMPARE(draft.points, expected);
    QVERIFY(draft.rect.isEmpty());
    QVERIFY(!f.scene->isInteracting());
    const auto items = f.scene->items();
    QVERIFY(std::none_of(items.begin(), items.end(),
                         [](QGraphicsItem *i) { return i->type() == PolyDraftItem::Type; }));
}

void TestAnnotationScene::polygonHintAndDraftItem()
{
    CanvasFixture f;
    f.scene->setMode(AnnotationScene::PolygonMode);
    QSignalSpy hints(f.scene.get(), &AnnotationScene::statusHint);
    f.click(QPointF(50, 50));
    QCOMPARE(hints.count(), 1);
    QCOMPARE(hints.at(0).at(0).toString(),
             translateText("多边形:左键加点 · 双击/Enter/点击起点闭合(≥3点) · Esc 取消"));
    QVERIFY(!hints.at(0).at(0).toString().isEmpty());
    f.click(QPointF(50, 50));   // same point again: not added
    f.click(QPointF(-30, 80));  // outside the image: default handling, no point
    QCOMPARE(f.scene->draftPoints(), QList<QPointF>{QPointF(50, 50)});
    f.move(QPointF(600, 120));   // live vertex clamped into the image
    PolyDraftItem *draft = nullptr;
    for (QGraphicsItem *i : f.scene->items())
        if (i->type() == PolyDraftItem::Type)
            draft = static_cast<PolyDraftItem *>(i);
    QVERIFY(draft);
    QCOMPARE(draft->points(), (QList<QPointF>{{50, 50}, {400, 120}}));
    QCOMPARE(draft->zValue(), 1000.0);
    QCOMPARE(hints.count(), 1);
}

void TestAnnotationScene::polygonWithTwoPointsIsDropped()
{
    CanvasFixture f;
    f.scene->setMode(AnnotationScene::PolygonMode);
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    QSignalSpy hints(f.scene.get(), &AnnotationScene::statusHint);
    f.click(QPointF(50, 50));
    f.click(QPointF(150, 50));
    QTest::keyClick(f.view.get(), Qt::Key_Return);
    QCOMPARE(drafted.count(), 0);
    QVERIFY(!f.scene->isInteracting());
    QVERIFY(hints.last().at(0).toString().isEmpty());
}

void TestAnnotationScene::switchingModeWhileDrafting_data()
{
    QTest::addColumn<int>("newMode");
    QTest::addColumn<bool>("keepsDraft");
    QTest::newRow("to rectangle discards") << int(AnnotationScene::RectMode) << false;
    QTest::newRow("to select discards") << int(AnnotationScene::SelectMode) << false;
    QTest::newRow("polygon again keeps") << int(AnnotationScene::PolygonMode) << true;
}

void TestAnnotationScene::switchingModeWhileDrafting()
{
    QFETCH(int, newMode);
    QFETCH(bool, keepsDraft);
    CanvasFixture f;
    f.scene->setMode(AnnotationScene::PolygonMode);
    f.click(QPointF(50, 50));
    f.click(QPointF(150, 50));
    QSignalSpy hints(f.scene.get(), &AnnotationScene::statusHint);
    f.scene->setMode(newMode);
    QCOMPARE(f.scene->isInteracting(), keepsDraft);
    QCOMPARE(f.scene->draftPoints().size(), keepsDraft ? 2 : 0);
    if (keepsDraft) {
        QCOMPARE(hints.count(), 0);
    } else {
        QCOMPARE(hints.count(), 1);
        QCOMPARE(hints.at(0).at(0).toString(), QString());
    }
}

void TestAnnotationScene::polygonModeEditsShapesBeforeFirstPoint()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 50, 50)));
    f.scene->setMode(AnnotationScene::PolygonMode);
    f.click(QPointF(120, 120));
    QVERIFY(f.scene->draftPoints().isEmpty());
    QCOMPARE(f.scene->selectedIds(), QList<uint>{id});
    f.click(QPointF(20, 20));   // first point on empty canvas
    f.click(QPointF(120, 120)); // now inside the box: another draft point
    QCOMPARE(f.scene->draftPoints().size(), 2);
}

void TestAnnotationScene::eachKindDrawsAndShowsItsOwn_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<QPointF>>("clicks");   // one point: a drag to it from (60, 60)
    // A row per kind of the registry: a kind added without one fails here.
    for (const CanvasShapeKind &row : canvasShapeKinds()) {
        const QString name(shapeKindRules(row.kind).name);
        if (row.kind == Annotation::Rect || row.kind == Annotation::Rotated)
            QTest::newRow(qPrintable(name)) << int(row.kind) << QList<QPointF>{{160, 140}};
        else if (row.kind == Annotation::Polygon)
            QTest::newRow(qPrintable(name)) << int(row.kind) << QList<QPointF>{{60, 60}, {160, 60}, {110, 140}};
        else
            QTest::newRow(qPrintable(name)) << int(row.kind) << QList<QPointF>{};
    }
}

// The mode of a kind drafts that kind, and a record of it gets that kind's item, in the scene's
// lists of shapes.
void TestAnnotationScene::eachKindDrawsAndShowsItsOwn()
{
    QFETCH(int, kind);
    QFETCH(QList<QPointF>, clicks);
    QVERIFY2(!clicks.isEmpty(), "no gesture for this kind");
    const auto row = std::find_if(canvasShapeKinds().cbegin(), canvasShapeKinds().cend(),
                                  [kind](const CanvasShapeKind &r) { return r.kind == kind; });
    CanvasFixture f;
    f.scene->setMode(row->mode);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::shapeDrafted);
    if (clicks.size() == 1) {
        f.drag(QPointF(60, 60), clicks.first());
    } else {
        for (const QPointF &p : std::as_const(clicks))
            f.click(p);
        f.scene->finishDrawing();
    }
    QCOMPARE(spy.count(), 1);
    Annotation draft = spy.at(0).at(0).value<Annotation>();
    QCOMPARE(int(draft.kind), kind);
    QVERIFY(!f.scene->isInteracting());

    draft.label = "cat";
    const uint id = f.add(draft);
    ShapeItemBase *item = f.scene->shapeItem(id);
    QVERIFY(item);
    QCOMPARE(item->type(), row->itemType);
    QCOMPARE(f.scene->shapeItemAt(annotationBox(draft).center()), item);
    f.scene->selectId(id, false);
    QCOMPARE(f.scene->selectedIds(), QList<uint>{id});
}

void TestAnnotationScene::switchingToolsMidDrawingLeavesNoPreview_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("box drag, then polygon") << int(AnnotationScene::RectMode) << int(AnnotationScene::PolygonMode);
    QTest::newRow("polygon draft, then box") << int(AnnotationScene::PolygonMode) << int(AnnotationScene::RectMode);
    QTest::newRow("box drag, then select") << int(AnnotationScene::RectMode) << int(AnnotationScene::SelectMode);
}

// The old tool's preview goes with it, and a release afterwards drafts nothing.
void TestAnnotationScene::switchingToolsMidDrawingLeavesNoPreview()
{
    QFETCH(int, from);
    QFETCH(int, to);
    CanvasFixture f;
    f.scene->setMode(from);
    QSignalSpy spy(f.scene.get(), &AnnotationScene::shapeDrafted);
    f.press(QPointF(60, 60));
    f.move(QPointF(160, 140));
    QVERIFY(f.scene->isInteracting());
    f.scene->setMode(to);
    QVERIFY(!f.scene->isInteracting());
    f.release(QPointF(160, 140));
    QCOMPARE(spy.count(), 0);
    const QList<QGraphicsItem *> items = f.scene->items();
    QVERIFY(std::none_of(items.cbegin(), items.cend(),
                         [](QGraphicsItem *i) { return i->zValue() >= 1000 && i->isVisible(); }));
}

void TestAnnotationScene::idsFromSetAnnotations()
{
    AnnotationScene scene;
    QCOMPARE(scene.allocateId(), 1);
    QCOMPARE(scene.allocateId(), 2);
    Annotation kept = box("cat", QRectF(0, 0, 5, 5));
    kept.id = 40;
    QSignalSpy changed(&scene, &AnnotationScene::annotationsChanged);
    QSignalSpy selected(&scene, &AnnotationScene::selectedIdChanged);
    scene.setAnnotations({box("cat", QRectF(0, 0, 5, 5)), kept, polygon("dog", {{0, 0}, {5, 0}, {0, 5}})});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(selected.last().at(0).toUInt(), 0u);
    QList<uint> ids;
    for (const Annotation &a : scene.annotations())
        ids.append(a.id);
    QCOMPARE(ids, (QList<uint>{3, 40, 41}));   // fresh ids above every id used; ascending order
    QCOMPARE(scene.annotations().at(2).kind, int(Annotation::Polygon));
    QCOMPARE(scene.allocateId(), 42);
    // A new image: ids are never reused.
    scene.setAnnotations({box("cat", QRectF(0, 0, 5, 5))});
    QCOMPARE(scene.annotations().first().id, 43u);
    QVERIFY(!scene.shapeItem(40));
}

void TestAnnotationScene::applyStateSignals()
{
    AnnotationScene scene;
    QSignalSpy changed(&scene, &AnnotationScene::annotationsChanged);
    Annotation a = box("cat", QRectF(10, 10, 20, 20));
    a.confidence = 0.5;
    scene.applyState(7, a);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(scene.annotations().first().id, 7u);   // the id given wins over the record's
    QCOMPARE(scene.allocateId(), 8);

    scene.applyState(7, a);   // equal: nothing
    Annotation nearlySame = a;
    nearlySame.rect = QRectF(10 + 1e-14, 10, 20, 20);   // fuzzy-equal geometry
    scene.applyState(7, nearlySame);
    QCOMPARE(changed.count(), 1);

    Annotation other = a;
    other.confidence = 0.5000001;   // confidence compared exactly
    scene.applyState(7, other);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(scene.annotations().first().confidence, 0.5000001);

    scene.applyState(99, std::nullopt);   // unknown id: nothing
    QCOMPARE(changed.count(), 2);
    scene.applyState(7, std::nullopt);
    QCOMPARE(changed.count(), 3);
    QVERIFY(scene.annotations().isEmpty());
    QVERIFY(scene.items().isEmpty());
}

void TestAnnotationScene::applyStateRemovesSelected()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(10, 10, 30, 30)));
    f.scene->selectId(id, true);
    QCOMPARE(f.scene->selectedId(), id);
    QSignalSpy selected(f.scene.get(), &AnnotationScene::selectedIdChanged);
    f.scene->applyState(id, std::nullopt);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toUInt(), 0u);
    QVERIFY(!f.scene->hasSelection());
}

void TestAnnotationScene::nudge_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QPointF>("offset");
    QTest::newRow("left") << int(Qt::Key_Left) << Qt::KeyboardModifiers() << QPointF(-1, 0);
    QTest::newRow("down") << int(Qt::Key_Down) << Qt::KeyboardModifiers() << QPointF(0, 1);
    QTest::newRow("shift right") << int(Qt::Key_Right) << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                 << QPointF(10, 0);
    QTest::newRow("shift up") << int(Qt::Key_Up) << Qt::KeyboardModifiers(Qt::ShiftModifier)
                              << QPointF(0, -10);
}

void TestAnnotationScene::nudge()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QPointF, offset);
    CanvasFixture f;
    const uint b = f.add(box("cat", QRectF(0, 10, 30, 30), 1));
    const QList<QPointF> pts{{100, 100}, {150, 100}, {120, 150}};
    const uint p = f.add(polygon("dog", pts));
    const uint untouched = f.add(box("cat", QRectF(300, 200, 20, 20)));
    f.scene->selectId(b, false, true);   // the user's pick: the arrows move it
    f.scene->shapeItem(p)->setSelected(true);
    QSignalSpy nudged(f.scene.get(), &AnnotationScene::annotationNudged);
    QTest::keyClick(f.view.get(), Qt::Key(key), modifiers);
    QCOMPARE(nudged.count(), 2);
    // Not clamped to the image (the box may leave it to the left).
    QCOMPARE(f.scene->shapeItem(b)->annotation().rect, QRectF(0, 10, 30, 30).translated(offset));
    QCOMPARE(f.scene->shapeItem(b)->annotation().pending, 0);   // nudging confirms
    QList<QPointF> moved = pts;
    for (QPointF &pt : moved)
        pt += offset;
    QCOMPARE(f.scene->shapeItem(p)->annotation().points, moved);
    QCOMPARE(f.scene->shapeItem(untouched)->annotation().rect, QRectF(300, 200, 20, 20));
    for (const auto &args : nudged) {
        const auto before = args.at(1).value<Annotation>();
        const auto after = args.at(2).value<Annotation>();
        QCOMPARE(f.scene->shapeItem(args.at(0).toUInt())->annotation(), after);
        QVERIFY(before != after);
        if (args.at(0).toUInt() == b)
            QCOMPARE(before.pending, 1);
    }
}

void TestAnnotationScene::rotatedBoxGestures_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QList<QPointF>>("expected");
    // The box of 100 x 50 at (100, 100), upright; its turning handle 24 px above its top edge.
    QTest::newRow("turning handle dragged round to the right: a quarter turn")
        << QPointF(150, 76) << QPointF(250, 125) << Qt::KeyboardModifiers()
        << QList<QPointF>{{175, 75}, {175, 175}, {125, 175}, {125, 75}};
    QTest::newRow("with Shift the turn snaps to 15 degrees (81.5 to 75)")
        << QPointF(150, 76) << QPointF(250, 110) << Qt::KeyboardModifiers(Qt::ShiftModifier)
        << [] { RotatedFrame f; f.centre = QPointF(150, 125); f.width = 100; f.height = 50; f.angle = 75;
                return f.corners(); }();
    QTest::newRow("right edge handle: wider, left edge stays")
        << QPointF(200, 125) << QPointF(230, 125) << Qt::KeyboardModifiers()
        << QList<QPointF>{{100, 100}, {230, 100}, {230, 150}, {100, 150}};
    QTest::newRow("inside: moved")
        << QPointF(150, 125) << QPointF(160, 135) << Qt::KeyboardModifiers()
        << QList<QPointF>{{110, 110}, {210, 110}, {210, 160}, {110, 160}};
}

// Real mouse gestures on a selected rotated box: one edit each, the record in its new place.
void TestAnnotationScene::rotatedBoxGestures()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QList<QPointF>, expected);
    CanvasFixture f;
    const QList<QPointF> upright{{100, 100}, {200, 100}, {200, 150}, {100, 150}};
    const uint id = f.add(rotated("car", upright));
    f.scene->selectId(id, false);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    f.drag(from, to, modifiers);
    QCOMPARE(edited.count(), 1);
    const auto after = edited.at(0).at(2).value<Annotation>();
    QCOMPARE(after.kind, Annotation::Rotated);
    QVERIFY2(nearPoints(after.points, expected, 1e-6), qPrintable(QString::number(RotatedFrame::fromCorners(after.points).angle)));
    QCOMPARE(edited.at(0).at(1).value<Annotation>().points, upright);
}

void TestAnnotationScene::turnTurnsOnlyRotatedBoxes()
{
    CanvasFixture f;
    const uint turned = f.add(rotated("car", {{100, 100}, {200, 100}, {200, 150}, {100, 150}}, 1));
    const uint upright = f.add(box("cat", QRectF(10, 10, 30, 30)));
    f.scene->selectId(turned, false);
    f.scene->shapeItem(upright)->setSelected(true);
    QSignalSpy nudged(f.scene.get(), &AnnotationScene::annotationNudged);
    f.scene->turnSelected(-15);
    QCOMPARE(nudged.count(), 1);
    const Annotation after = f.scene->shapeItem(turned)->annotation();
    QCOMPARE(RotatedFrame::fromCorners(after.points).angle, -15.0);
    QCOMPARE(RotatedFrame::fromCorners(after.points).centre, QPointF(150, 125));
    QCOMPARE(after.pending, 0);   // turning a model result confirms it
    QCOMPARE(f.scene->shapeItem(upright)->annotation().rect, QRectF(10, 10, 30, 30));
}

void TestAnnotationScene::pendingReadingOrder()
{
    AnnotationScene scene;
    scene.applyState(1, box("cat", QRectF(200, 100, 20, 20), 1));          // centre (210, 110)
    scene.applyState(2, box("cat", QRectF(0, 100, 20, 20), 1));            // centre (10, 110)
    scene.applyState(3, polygon("dog", {{50, 0}, {70, 0}, {60, 20}}, 1));   // centre (60, 10)
    scene.applyState(4, box("cat", QRectF(0, 0, 5, 5)));                   // confirmed
    scene.applyState(5, box("cat", QRectF(100, 300, 20, 20), 1));          // centre (110, 310)
    QCOMPARE(scene.pendingIdsInReadingOrder(), (QList<uint>{3, 2, 1, 5}));
    QCOMPARE(scene.pendingCount(), 4);
    QCOMPARE(scene.confirmedCount(), 1);
}

void TestAnnotationScene::contextMenuOnShape()
{
    CanvasFixture f;
    const uint id = f.add(box("cat", QRectF(100, 100, 50, 50)));
    QSignalSpy spy(f.scene.get(), &AnnotationScene::itemContextRequested);
    const QPoint onBox = f.at(QPointF(120, 120));
    f.press(QPointF(120, 120), Qt::RightButton);
    f.release(QPointF(120, 120), Qt::RightButton);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, onBox, f.viewport()->mapToGlobal(onBox));
    QApplication::sendEvent(f.viewport(), &menu);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toUInt(), id);
    QCOMPARE(spy.at(0).at(1).toPoint(), f.viewport()->mapToGlobal(onBox));
    QCOMPARE(spy.at(0).at(2).toPointF(), f.view->mapToScene(onBox));
    QCOMPARE(f.scene->selectedIds(), QList<uint>{id});

    const QPoint empty = f.at(QPointF(300, 250));
    QContextMenuEvent miss(QContextMenuEvent::Mouse, empty, f.viewport()->mapToGlobal(empty));
    QApplication::sendEvent(f.viewport(), &miss);
    QCOMPARE(spy.count(), 1);
}

void TestAnnotationScene::hiddenShapes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("byCategory");   // "cat" hidden by its eye, else every shape hidden

    const char *const hows[] = {
        "click selects nothing", "box press draws", "polygon click adds a point", "band skips it",
        "no context menu", "selected shape is deselected", "selectId ignores it", "reading order skips it",
        "drag under way is undone", "added later stays hidden", "relabelled into it hides", "revealed by name",
    };
    for (const char *how : hows) {
        QTest::newRow(qPrintable(QStringLiteral("%1, all hidden").arg(QLatin1String(how)))) << QString(how) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, category hidden").arg(QLatin1String(how)))) << QString(how) << true;
    }
}

void TestAnnotationScene::hiddenShapes()
{
    QFETCH(QString, how);
    QFETCH(bool, byCategory);
    CanvasFixture f;
    const uint cat = f.add(box("cat", QRectF(100, 100, 50, 50), 1));
    const uint dog = f.add(box("dog", QRectF(250, 100, 50, 50), 1));
    QSignalSpy visibility(f.scene.get(), &AnnotationScene::visibilityChanged);
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    QSignalSpy edited(f.scene.get(), &AnnotationScene::annotationEdited);
    QSignalSpy menu(f.scene.get(), &AnnotationScene::itemContextRequested);
    const auto hide = [&](bool hidden) {
        if (byCategory)
            f.scene->setLabelHidden(QStringLiteral("cat"), hidden);
        else
            f.scene->setAllHidden(hidden);
    };
    const QList<uint> dogIfShown = byCategory ? QList<uint>{dog} : QList<uint>{};
    const QPointF onCat(120, 120);
    const QList<Annotation> records = f.scene->annotations();

    if (how == QLatin1String("selected shape is deselected"))
        f.scene->selectId(cat, false);
    if (how == QLatin1String("drag under way is undone")) {
        f.press(onCat);
        f.move(onCat + QPointF(10, 10));
        f.move(onCat + QPointF(30, 20));
        QCOMPARE(f.scene->shapeItem(cat)->annotation().rect, QRectF(130, 120, 50, 50));
    }
    hide(true);
    QCOMPARE(visibility.count(), 1);
    QVERIFY(!f.scene->shapeItem(cat)->isVisible());
    QCOMPARE(f.scene->shapeItem(dog)->isVisible(), byCategory);
    QCOMPARE(f.scene->isHidden(box("cat", QRectF())), true);
    QCOMPARE(f.scene->hidesAnything(), true);

    if (how == QLatin1String("click selects nothing")) {
        f.click(onCat);
        QVERIFY(f.scene->selectedIds().isEmpty());
    } else if (how == QLatin1String("box press draws")) {
        f.scene->setMode(AnnotationScene::RectMode);
        f.drag(onCat, QPointF(140, 150));
        QCOMPARE(edited.count(), 0);
        QCOMPARE(drafted.count(), 1);
        QCOMPARE(drafted.at(0).at(0).value<Annotation>().rect, QRectF(120, 120, 20, 30));
    } else if (how == QLatin1String("polygon click adds a point")) {
        f.scene->setMode(AnnotationScene::PolygonMode);
        f.click(onCat);
        QCOMPARE(f.scene->draftPoints().size(), 1);
        QVERIFY(f.scene->selectedIds().isEmpty());
    } else if (how == QLatin1String("band skips it")) {
        f.drag(QPointF(90, 90), QPointF(320, 170));
        QCOMPARE(f.scene->selectedIds(), dogIfShown);
    } else if (how == QLatin1String("no context menu")) {
        f.press(onCat, Qt::RightButton);
        f.release(onCat, Qt::RightButton);
        const QPoint p = f.at(onCat);
        QContextMenuEvent event(QContextMenuEvent::Mouse, p, f.viewport()->mapToGlobal(p));
        QApplication::sendEvent(f.viewport(), &event);
        QCOMPARE(menu.count(), 0);
        QVERIFY(f.scene->selectedIds().isEmpty());
    } else if (how == QLatin1String("selected shape is deselected")) {
        QVERIFY(f.scene->selectedIds().isEmpty());
        QVERIFY(!f.scene->hasSelection());
    } else if (how == QLatin1String("selectId ignores it")) {
        f.scene->selectId(cat, true);
        QVERIFY(f.scene->selectedIds().isEmpty());
    } else if (how == QLatin1String("reading order skips it")) {
        QCOMPARE(f.scene->pendingIdsInReadingOrder(true), dogIfShown);
        QCOMPARE(f.scene->pendingIdsInReadingOrder(), (QList<uint>{cat, dog}));
    } else if (how == QLatin1String("drag under way is undone")) {
        f.move(onCat + QPointF(40, 40));
        f.release(onCat + QPointF(40, 40));
        QCOMPARE(edited.count(), 0);
    } else if (how == QLatin1String("added later stays hidden")) {
        const uint late = f.add(box("cat", QRectF(20, 200, 30, 30)));
        QVERIFY(!f.scene->shapeItem(late)->isVisible());
        f.scene->setAnnotations(f.scene->annotations());   // the next image's records
        QVERIFY(!f.scene->shapeItem(late)->isVisible());
        QCOMPARE(f.scene->shapeItem(dog)->isVisible(), byCategory);
        f.scene->applyState(late, std::nullopt);
    } else if (how == QLatin1String("relabelled into it hides")) {
        Annotation renamed = records.at(1);
        renamed.label = QStringLiteral("cat");
        f.scene->selectId(dog, false);
        f.scene->applyState(dog, renamed);
        QVERIFY(!f.scene->shapeItem(dog)->isVisible());
        QVERIFY(f.scene->selectedIds().isEmpty());
        f.scene->applyState(dog, records.at(1));
        QCOMPARE(f.scene->shapeItem(dog)->isVisible(), byCategory);
    } else if (how == QLatin1String("revealed by name")) {
        f.scene->revealLabel(QStringLiteral("cat"));
        QVERIFY(f.scene->shapeItem(cat)->isVisible());
        QVERIFY(f.scene->shapeItem(dog)->isVisible());
        QVERIFY(!f.scene->hidesAnything());
        QCOMPARE(visibility.count(), 2);
    }
    // A view setting: the records are as they were, and showing brings every shape back.
    QCOMPARE(f.scene->annotations(), records);
    f.scene->cancelDrawing();
    hide(false);
    QVERIFY(f.scene->shapeItem(cat)->isVisible());
    QVERIFY(f.scene->shapeItem(dog)->isVisible());
    QVERIFY(!f.scene->hidesAnything());
    f.scene->setMode(AnnotationScene::SelectMode);
    f.click(onCat);
    QCOMPARE(f.scene->selectedIds(), QList<uint>{cat});
}

void TestAnnotationScene::clearResetsEverything()
{
    CanvasFixture f;
    f.add(box("cat", QRectF(10, 10, 30, 30)));
    f.scene->setMode(AnnotationScene::PolygonMode);
    f.click(QPointF(200, 200));
    f.scene->clear();
    QVERIFY(f.scene->items().isEmpty());
    QVERIFY(f.scene->image().isNull());
    QVERIFY(!f.scene->imageRect().isValid());
    QVERIFY(!f.scene->isInteracting());
    // Without an image presses are not handled as drawing.
    QSignalSpy drafted(f.scene.get(), &AnnotationScene::shapeDrafted);
    f.scene->setMode(AnnotationScene::RectMode);
    const QPoint p = f.viewport()->rect().center();
    f.pressAt(p, Qt::LeftButton);
    f.moveTo(p + QPoint(50, 50));
    f.releaseAt(p + QPoint(50, 50), Qt::LeftButton);
    QCOMPARE(drafted.count(), 0);
}

void TestAnnotationScene::backgroundAndBorder()
{
    CanvasFixture f;
    const QImage img = f.grab();
    const QColor background(0x17, 0x1A, 0x20);
    // Far outside the image, between grid lines.
    QCOMPARE(img.pixelColor(f.at(QPointF(-115, -115))), background);
    // The grid line at x = -120 is a faint blend towards (154, 163, 178).
    const QColor grid = img.pixelColor(f.at(QPointF(-120, -115)));
    QVERIFY(grid != background);
    QVERIFY(grid.red() > background.red() && grid.red() < 60);
    // Inside the image the pixmap covers grid and background.
    QCOMPARE(img.pixelColor(f.at(QPointF(200, 150))), QColor(0x20, 0x20, 0x20));
}

BRINDLE_TEST_MAIN(TestAnnotationScene)
#include "tst_annotationscene.moc"
