#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "canvas/shapeitembase.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/pendingfile.h"
#include "session/categoryorder.h"
#include "ui/adjustmentpopup.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include "stylesheet.h"
#include "testmain.h"
#include "editfixture.h"
#include "editscript.h"
#include "windowfixture.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QUndoStack>

using namespace EditFixture;
using namespace WindowFixture;

// What the window shows while the user reviews and steps: pending shapes confirmed from the keyboard,
// the image held still, hidden shapes, brightness and contrast.
class TestWindowView : public QObject, private EditScript
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pendingKeys_data();
    void pendingKeys();
    void reviewGoesOnToTheNextImage();
    void imageStaysStill_data();
    void imageStaysStill();
    void pageKeysStepWhateverIsSelected_data();
    void pageKeysStepWhateverIsSelected();
    void displayAdjustment_data();
    void displayAdjustment();
    void hideAndShow_data();
    void hideAndShow();
};

void TestWindowView::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestWindowView::init()
{
    prepareDataset();
}

void TestWindowView::cleanup()
{
    m_tmp.reset();
}

// ---- Enter, Esc, A and D on pending shapes ----------------------------------------------------

void TestWindowView::pendingKeys_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<uint>>("selected");
    QTest::addColumn<QString>("toast");   // empty: not checked

    // 1 is confirmed; 2, 3, 4 are pending, in this reading order.
    const QString start = QStringLiteral("1 cat 400,300 80x60; 2 car 600,300 60x40 pending; "
                                         "3 car 400,450 60x40 pending; 4 car 600,450 60x40 pending");
    QString s = start;
    QTest::newRow("Enter with nothing selected confirms the first in reading order and selects the next")
        << "key Return" << s.replace(QStringLiteral("60x40 pending; 3"), QStringLiteral("60x40; 3"))
        << QStringList{"确认标注"} << QList<uint>{3} << "";
    QTest::newRow("Enter on a confirmed shape says so") << "click 1; key Return" << start << QStringList{}
                                                       << QList<uint>{1} << "该框已是已确认状态";
    QTest::newRow("Enter with two pending selected confirms both in one step")
        << "click 3; ctrl-click 4; key Enter"
        << "1 cat 400,300 80x60; 2 car 600,300 60x40 pending; 3 car 400,450 60x40; 4 car 600,450 60x40"
        << QStringList{"确认 2 个标注"} << QList<uint>{2} << "已确认 2 个标注";
    QTest::newRow("Esc rejects the selected pending shape and selects the next")
        << "click 3; key Esc" << "1 cat 400,300 80x60; 2 car 600,300 60x40 pending; 4 car 600,450 60x40 pending"
        << QStringList{"拒绝标注"} << QList<uint>{4} << "";
    QTest::newRow("after the last in reading order the first is next")
        << "click 4; key Return"
        << "1 cat 400,300 80x60; 2 car 600,300 60x40 pending; 3 car 400,450 60x40 pending; 4 car 600,450 60x40"
        << QStringList{"确认标注"} << QList<uint>{2} << "";
    QTest::newRow("a double-click confirms and selects the next")
        << "dblclick 2"
        << "1 cat 400,300 80x60; 2 car 600,300 60x40; 3 car 400,450 60x40 pending; 4 car 600,450 60x40 pending"
        << QStringList{"确认标注"} << QList<uint>{3} << "";
    QTest::newRow("Ctrl+Enter confirms all")
        << "key Ctrl+Return"
        << "1 cat 400,300 80x60; 2 car 600,300 60x40; 3 car 400,450 60x40; 4 car 600,450 60x40"
        << QStringList{"全部确认"} << QList<uint>{} << "已确认 3 个标注";
    QTest::newRow("Ctrl+Del rejects all") << "click 1; key Ctrl+Del" << "1 cat 400,300 80x60"
                                          << QStringList{"全部拒绝"} << QList<uint>{1} << "已拒绝 3 个标注";
    QTest::newRow("Esc on a confirmed shape only clears the selection")
        << "click 1; key Esc" << start << QStringList{} << QList<uint>{} << "";
    QTest::newRow("Esc while drawing a polygon cancels it and rejects nothing")
        << "click 3; key P; point 800 200; key Esc" << start << QStringList{} << QList<uint>{3} << "";
    QTest::newRow("D with nothing selected selects the first") << "key D" << start << QStringList{}
                                                              << QList<uint>{2} << "";
    QTest::newRow("D on the last wraps to the first") << "click 4; key D" << start << QStringList{}
                                                     << QList<uint>{2} << "";
    QTest::newRow("A with nothing selected selects the last") << "key A" << start << QStringList{}
                                                             << QList<uint>{4} << "";
    QTest::newRow("A steps back in reading order") << "click 4; key A" << start << QStringList{}
                                                  << QList<uint>{3} << "";
}

void TestWindowView::pendingKeys()
{
    QFETCH(QString, script);
    QFETCH(QString, after);
    QFETCH(QStringList, texts);
    QFETCH(QList<uint>, selected);
    QFETCH(QString, toast);

    const QList<Annotation> pending = {
        box(QStringLiteral("car"), QRectF(600, 300, 60, 40), 1, 0.9),
        box(QStringLiteral("car"), QRectF(400, 450, 60, 40), 1, 0.9),
        box(QStringLiteral("car"), QRectF(600, 450, 60, 40), 1, 0.9),
    };
    writeFirstImage({kConfirmed.first()}, pending);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QCOMPARE(window->scene()->pendingCount(), 3);

    run(*window, script);
    QCOMPARE(describe(window->scene()->annotations()), after);
    QCOMPARE(undoTexts(window->editor()->undoStack()), texts);
    QList<uint> ids = window->scene()->selectedIds();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, selected);
    QVERIFY(!window->scene()->isInteracting());
    if (!toast.isEmpty())
        QCOMPARE(window->toast()->text(), toast);

    // After a switch the label file holds the confirmed shapes, the pending file the others.
    QList<Annotation> confirmedNow, pendingNow;
    for (Annotation a : window->scene()->annotations()) {
        (a.pending ? pendingNow : confirmedNow).append(a);
    }
    run(*window, QStringLiteral("key W; point 800 650; key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    const QString savedNow = describe(confirmedNow, false);
    QCOMPARE(describe(loadAnnotations(m_images.at(0)), false), savedNow);
    QCOMPARE(describe(readPendingFile(m_dir).value(m_images.at(0)), false), describe(pendingNow, false));
}

// ---- a review with the keyboard goes from image to image ---------------------------------------

void TestWindowView::reviewGoesOnToTheNextImage()
{
    // The first and the third image have results; the second has none.
    writeFirstImage({}, {box(QStringLiteral("car"), QRectF(600, 300, 60, 40), 1),
                         box(QStringLiteral("car"), QRectF(400, 450, 60, 40), 1)});
    QVERIFY(writePendingFile(m_dir, {{m_images.at(0), readPendingFile(m_dir).value(m_images.at(0))},
                                     {m_images.at(2), {box(QStringLiteral("bus"), QRectF(500, 400, 80, 60), 1)}}}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QTRY_COMPARE(window->session()->imageState(m_images.at(2)).pending, 1);

    // Enter confirms the first in reading order and selects the other, Esc rejects that one: the
    // image has no result left, so the window goes on to the third image, its result selected.
    run(*window, QStringLiteral("key Return"));
    QCOMPARE(window->scene()->selectedIds().size(), 1);
    run(*window, QStringLiteral("key Esc"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(2));
    QCOMPARE(window->scene()->selectedIds(), window->scene()->pendingIdsInReadingOrder());
    QCOMPARE(describe(loadAnnotations(m_images.at(0)), false), QStringLiteral("car 600,300 60x40"));
    QVERIFY(!readPendingFile(m_dir).contains(m_images.at(0)));

    // The last result of the folder: Enter confirms it and the window stays, saying so.
    run(*window, QStringLiteral("key Return"));
    QCOMPARE(window->currentImagePath(), m_images.at(2));
    QCOMPARE(window->scene()->pendingCount(), 0);
    QCOMPARE(window->toast()->text(), QStringLiteral("全部待确认结果已处理完"));
}

// ---- the image stays where it is on screen ---------------------------------------------------

void TestWindowView::imageStaysStill_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("sameImage");

    QTest::newRow("a box drawn at the top-left corner") << "draw 4 4 120 100 fox" << true;
    QTest::newRow("a box drawn at the bottom-right corner") << "draw 1080 790 1196 896 fox" << true;
    QTest::newRow("two boxes drawn at the edges") << "draw 4 4 120 100 fox; draw 1080 790 1196 896 fox" << true;
    QTest::newRow("a result at the edge selected with D") << "key D" << true;
    QTest::newRow("the language switched") << "language en; language de" << true;
    QTest::newRow("the next image, of another shape") << "key PgDown" << false;
}

void TestWindowView::imageStaysStill()
{
    QFETCH(QString, script);
    QFETCH(bool, sameImage);

    writeFirstImage(kConfirmed, {box(QStringLiteral("cat"), QRectF(1100, 820, 98, 78), 1)});
    QVERIFY(makeImage(m_images.at(1), 500, 900));   // portrait
    auto window = openWindow(m_images.at(0), true);
    QVERIFY(window);
    CanvasView *view = window->view();
    const double fitted = view->zoomFactor();
    QVERIFY(fitted < 1.0);
    const auto imageOnScreen = [view] { return view->viewport()->mapToGlobal(view->mapFromScene(QPointF(0, 0))); };
    const auto noScrollBars = [view] {
        return !view->horizontalScrollBar()->isVisible() && !view->verticalScrollBar()->isVisible();
    };
    QVERIFY(noScrollBars());
    const QPoint before = imageOnScreen();
    const QSize viewport = view->viewport()->size();

    run(*window, script);
    QVERIFY(noScrollBars());
    QCOMPARE(view->viewport()->size(), viewport);
    if (!sameImage) {
        QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
        return;
    }
    QCOMPARE(view->zoomFactor(), fitted);
    QCOMPARE(imageOnScreen(), before);
}

// ---- PageUp and PageDown step, whatever is selected ---------------------------------------------

void TestWindowView::pageKeysStepWhateverIsSelected_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("image");     // shown afterwards
    QTest::addColumn<QString>("saved"); // the first image's label file afterwards

    const QString start = QStringLiteral("cat 400,300 80x60; dog 600,300 80x60; cat 400,450 80x60");
    QTest::newRow("nothing selected: PageDown") << "key PgDown" << 1 << start;
    QTest::newRow("a shape selected: PageDown steps all the same") << "click 1; key PgDown" << 1 << start;
    QTest::newRow("a shape selected: PageUp wraps to the last") << "click 1; key PgUp" << 2 << start;
    QTest::newRow("a shape just drawn: PageDown saves it and steps")
        << "draw 700 550 780 620 fox; key PgDown" << 1 << start + "; fox 700,550 80x70";
    QTest::newRow("a shape selected: the arrow nudges it instead")
        << "click 1; key Right" << 0 << start;
}

void TestWindowView::pageKeysStepWhateverIsSelected()
{
    QFETCH(QString, script);
    QFETCH(int, image);
    QFETCH(QString, saved);

    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, script);
    QTRY_COMPARE(window->currentImagePath(), m_images.at(image));
    QCOMPARE(describe(loadAnnotations(m_images.at(0)), false), saved);
    if (image == 0)
        QCOMPARE(describe(window->scene()->annotations()).left(20), QStringLiteral("1 cat 401,300 80x60;"));
}


// ---- brightness and contrast change the display, never the file ---------------------------------

void TestWindowView::displayAdjustment_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("image");        // shown afterwards
    QTest::addColumn<int>("brightness");
    QTest::addColumn<int>("contrast");
    QTest::addColumn<QColor>("shown");     // on screen, where the image is (60, 100, 200) and no shape lies
    QTest::addColumn<QString>("readout");  // the status bar's
    QTest::addColumn<QString>("shapes");   // of the image shown afterwards

    const QString start = QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60");
    const QString minus = QStringLiteral("\u2212");
    QTest::newRow("nothing pressed: as decoded") << "" << 0 << 0 << 0 << QColor(60, 100, 200) << "☀" << start;
    QTest::newRow("Ctrl+Shift+Up twice: 20% brighter") << "key Ctrl+Shift+Up; key Ctrl+Shift+Up" << 0 << 20 << 0
                                                      << QColor(111, 151, 251) << "☀ +20%" << start;
    QTest::newRow("Ctrl+Shift+Down: darker") << "key Ctrl+Shift+Down" << 0 << -10 << 0 << QColor(35, 75, 175)
                                            << "☀ " + minus + "10%" << start;
    QTest::newRow("Ctrl+Shift+Right and Left: contrast, from the decoded pixels each time")
        << "key Ctrl+Shift+Right; key Ctrl+Shift+Right; key Ctrl+Shift+Right; key Ctrl+Shift+Left" << 0 << 0 << 20
        << QColor(46, 94, 214) << "◐ +20%" << start;
    QTest::newRow("a shape selected: the keys adjust, the shape stays where it is")
        << "click 1; key Ctrl+Shift+Up; key Ctrl+Shift+Right" << 0 << 10 << 10 << QColor(79, 123, 233)
        << "☀ +10% ◐ +10%" << start;
    QTest::newRow("a shape selected: Shift+Up still nudges it by 10")
        << "click 1; key Shift+Up" << 0 << 0 << 0 << QColor(60, 100, 200) << "☀"
        << "1 cat 400,290 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60";
    QTest::newRow("the setting stays on the next image") << "key Ctrl+Shift+Up; key Right" << 1 << 10 << 0
                                                        << QColor(86, 126, 226) << "☀ +10%" << "";
    QTest::newRow("and on the one after, and back") << "key Ctrl+Shift+Up; key Right; key Right; key Left" << 1 << 10
                                                   << 0 << QColor(86, 126, 226) << "☀ +10%" << "";
    QTest::newRow("set on the next image, then back to one decoded before")
        << "key Right; key Ctrl+Shift+Up; key Left" << 0 << 10 << 0 << QColor(86, 126, 226) << "☀ +10%" << start;
    QTest::newRow("Ctrl+Shift+0 resets both") << "key Ctrl+Shift+Up; key Ctrl+Shift+Right; key Ctrl+Shift+0" << 0 << 0
                                             << 0 << QColor(60, 100, 200) << "☀" << start;
    QTest::newRow("brightness stops at +100%") << QStringList(11, QStringLiteral("key Ctrl+Shift+Up")).join(QStringLiteral("; ")) << 0 << 100 << 0
                                              << QColor(255, 255, 255) << "☀ +100%" << start;
    QTest::newRow("the popup's sliders") << "adjust-popup 30 -20" << 0 << 30 << -20 << QColor(150, 182, 255)
                                        << "☀ +30% ◐ " + minus + "20%" << start;
    QTest::newRow("the popup's reset") << "adjust-popup 30 -20; adjust-popup reset" << 0 << 0 << 0
                                      << QColor(60, 100, 200) << "☀" << start;
}

void TestWindowView::displayAdjustment()
{
    QFETCH(QString, script);
    QFETCH(int, image);
    QFETCH(int, brightness);
    QFETCH(int, contrast);
    QFETCH(QColor, shown);
    QFETCH(QString, readout);
    QFETCH(QString, shapes);

    QList<QByteArray> files;
    for (const QString &path : std::as_const(m_images)) {
        QVERIFY(makeImage(path, 1200, 900, QColor(60, 100, 200)));
        files.append(readBytes(path));
    }
    writeFirstImage(kConfirmed, {});
    const QByteArray labels = readBytes(vocPath(m_images.at(0)));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, script);
    QTRY_COMPARE(window->currentImagePath(), m_images.at(image));
    QCOMPARE(window->adjustment().brightness, brightness);
    QCOMPARE(window->adjustment().contrast, contrast);
    QCOMPARE(window->statusPanel()->adjustmentText(), readout);
    QCOMPARE(describe(window->scene()->annotations()), shapes);

    // What the canvas paints, away from the shapes.
    const QPoint spot = window->view()->mapFromScene(QPointF(750, 620));
    QVERIFY(window->view()->viewport()->rect().contains(spot));
    const QColor painted = window->view()->viewport()->grab().toImage().pixelColor(spot);
    QCOMPARE(painted.name(), shown.name());

    // Nothing was written: the images, the label file, no undo step.
    for (int i = 0; i < m_images.size(); ++i)
        QVERIFY(readBytes(m_images.at(i)) == files.at(i));
    QVERIFY(readBytes(vocPath(m_images.at(0))) == labels);
    QVERIFY(!QFileInfo::exists(vocPath(m_images.at(1))));
    QCOMPARE(window->editor()->undoStack()->count(), shapes.contains(QLatin1String("400,290")) ? 1 : 0);
}

// ---- hiding shapes from view -----------------------------------------------------------------

void TestWindowView::hideAndShow_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QList<uint>>("shown");      // shapes visible on the canvas
    QTest::addColumn<QList<uint>>("greyed");     // object rows greyed
    QTest::addColumn<QList<uint>>("selected");
    QTest::addColumn<bool>("allHidden");         // the Ctrl+H toggle
    QTest::addColumn<QString>("after");          // the shapes; empty: as at the start
    QTest::addColumn<QStringList>("texts");      // undo steps

    const QList<uint> all{1, 2, 3, 4};
    const QList<uint> none;
    const QList<uint> cats{1, 3, 4};
    QTest::newRow("Ctrl+H hides every shape") << "key Ctrl+H" << none << all << none << true << "" << QStringList{};
    QTest::newRow("Ctrl+H again shows them") << "key Ctrl+H; key Ctrl+H" << all << none << none << false << ""
                                             << QStringList{};
    QTest::newRow("a click on a hidden shape selects nothing") << "key E; key Ctrl+H; click 1" << none << all
                                                               << none << true << "" << QStringList{};
    QTest::newRow("a selected shape is deselected when hidden") << "click 1; key Ctrl+H" << none << all << none
                                                                << true << "" << QStringList{};
    QTest::newRow("a drag on a hidden shape draws a box, and shows every shape")
        << "key Ctrl+H; draw 410 310 470 350 bird" << QList<uint>{1, 2, 3, 4, 5} << none << QList<uint>{5} << false
        << kStart + QStringLiteral("; 5 bird 410,310 60x40") << QStringList{"添加标注"};
    QTest::newRow("the eye hides a category and greys its rows") << "eye cat" << QList<uint>{2} << cats << none
                                                                 << false << "" << QStringList{};
    QTest::newRow("the eye again shows it") << "eye cat; eye cat" << all << none << none << false << ""
                                            << QStringList{};
    QTest::newRow("a band selects only shown shapes") << "eye cat; key E; band 380 280 700 530" << QList<uint>{2}
                                                      << cats << QList<uint>{2} << false << "" << QStringList{};
    QTest::newRow("a click on a greyed row selects nothing") << "eye cat; row 2; row 1" << QList<uint>{2} << cats
                                                             << QList<uint>{2} << false << "" << QStringList{};
    QTest::newRow("A / D and Enter pass over hidden results") << "eye cat; key D; key Return" << QList<uint>{2}
                                                              << cats << none << false << "" << QStringList{};
    QTest::newRow("naming a shape into a hidden category shows the category")
        << "eye dog; click 1; category-dblclick dog" << all << none << QList<uint>{1} << false
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 dog")) << QStringList{"修改类别"};
    QTest::newRow("undoing brings back a shape hidden") << "click 2; key Del; eye dog; key Ctrl+Z"
                                                        << QList<uint>{1, 3, 4} << QList<uint>{2} << none << false
                                                        << "" << QStringList{"删除标注"};
    QTest::newRow("hidden stays so from image to image") << "key Ctrl+H; eye dog; key PgDown; key PgUp" << none
                                                         << all << none << true << "" << QStringList{};
    QTest::newRow("and through a language switch") << "key Ctrl+H; language en; key Ctrl+H" << all << none << none
                                                   << false << "" << QStringList{};
}

void TestWindowView::hideAndShow()
{
    QFETCH(QString, script);
    QFETCH(QList<uint>, shown);
    QFETCH(QList<uint>, greyed);
    QFETCH(QList<uint>, selected);
    QFETCH(bool, allHidden);
    QFETCH(QString, after);
    QFETCH(QStringList, texts);

    writeFirstImage(kConfirmed, kPending);
    const QByteArray labels = readBytes(vocPath(m_images.at(0)));
    const QByteArray pending = readBytes(m_dir + QStringLiteral("/.brindle_pending.json"));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, script);
    QCOMPARE(window->currentImagePath(), m_images.at(0));

    AnnotationScene *scene = window->scene();
    QList<uint> visible;
    for (const Annotation &a : scene->annotations()) {
        if (scene->shapeItem(a.id)->isVisible())
            visible.append(a.id);
    }
    QCOMPARE(visible, shown);
    QList<uint> grey;
    QListWidget *rows = objectList(*window);
    for (int i = 0; i < rows->count(); ++i) {
        if (rows->item(i)->data(Qt::UserRole + 25).toBool())
            grey.append(rows->item(i)->data(Qt::UserRole + 1).toUInt());
    }
    std::sort(grey.begin(), grey.end());
    QCOMPARE(grey, greyed);
    QList<uint> ids = scene->selectedIds();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, selected);
    QCOMPARE(window->actions().hideShapes->isChecked(), allHidden);
    QCOMPARE(describe(scene->annotations()), after.isEmpty() ? kStart : after);
    // Hiding and showing are no edits: no undo step, nothing to save.
    QCOMPARE(undoTexts(window->editor()->undoStack()), texts);
    if (texts.isEmpty()) {
        QVERIFY(!window->isDirty());
        QVERIFY(window->saveCurrent());
        QCOMPARE(readBytes(vocPath(m_images.at(0))), labels);
        QCOMPARE(readBytes(m_dir + QStringLiteral("/.brindle_pending.json")), pending);
    }
    // What is saved is every shape, hidden or not.
    run(*window, QStringLiteral("key PgDown"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QString confirmed;
    for (const QString &shape : (after.isEmpty() ? kStart : after).split(QStringLiteral("; "))) {
        if (!shape.endsWith(QLatin1String(" pending")))
            confirmed += (confirmed.isEmpty() ? QString() : QStringLiteral("; ")) + shape.section(QLatin1Char(' '), 1);
    }
    QCOMPARE(describe(loadAnnotations(m_images.at(0)), false), confirmed);
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowView)
#include "tst_windowview.moc"
