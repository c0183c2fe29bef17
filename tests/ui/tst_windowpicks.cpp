#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/pendingfile.h"
#include "ui/toastwidget.h"

#include "stylesheet.h"
#include "testmain.h"
#include "editfixture.h"
#include "editscript.h"
#include "windowfixture.h"

#include <QAction>
#include <QRegularExpression>
#include <QListWidget>
#include <QMessageBox>
#include <QUndoStack>

using namespace EditFixture;
using namespace WindowFixture;

namespace {

// 1-3 confirmed (kConfirmed), 4 and 5 model results; 5 lies above 4, so reading order and the
// panel's order differ.
const QList<Annotation> kTwoResults = {box(QStringLiteral("cat"), QRectF(600, 450, 80, 60), 1, 0.9),
                                       box(QStringLiteral("car"), QRectF(800, 250, 60, 40), 1, 0.8)};
const QString kStartTwo = QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60; "
                                         "4 cat 600,450 80x60 pending; 5 car 800,250 60x40 pending");

QString withoutIds(const QList<Annotation> &list)
{
    return describe(list, false);
}

} // namespace

// What the user picked versus what was selected for them: the digits and arrows act on the
// former only. The history each image keeps, the review order and the naming of a new shape.
class TestWindowPicks : public QObject, private EditScript
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void arrowsMovePickedShapesOnly_data();
    void arrowsMovePickedShapesOnly();
    void historyPerImage_data();
    void historyPerImage();
    void quitAsksOnlyWhenUnsaved_data();
    void quitAsksOnlyWhenUnsaved();
    void reviewFollowsThePanel_data();
    void reviewFollowsThePanel();
    void panelShowsEverySelectedShape();
    void newShapeShownBesideItsDialog_data();
    void newShapeShownBesideItsDialog();
};

void TestWindowPicks::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestWindowPicks::init()
{
    prepareDataset();
}

void TestWindowPicks::cleanup()
{
    m_tmp.reset();
}

// ---- the arrows ----------------------------------------------------------------------------

void TestWindowPicks::arrowsMovePickedShapesOnly_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("image");        // the image shown afterwards
    QTest::addColumn<QString>("first");    // the first image's shapes afterwards, without ids

    QString s = kStartTwo;
    const auto first = [](QString text) {
        return text.replace(QRegularExpression(QStringLiteral("(^|; )\\d+ ")), QStringLiteral("\\1"));
    };
    QTest::newRow("right after drawing: → steps to the next image")
        << "draw 700 600 780 660 fox; key Right" << 1 << first(kStartTwo + "; 6 fox 700,600 80x60");
    QTest::newRow("the drawn box clicked: → nudges it")
        << "draw 700 600 780 660 fox; click 6; key Right" << 0 << first(kStartTwo + "; 6 fox 701,600 80x60");
    QTest::newRow("after confirming a result: → steps, the next result stays put")
        << "click 4; key Return; key Right" << 1
        << first(QString(kStartTwo).replace(QStringLiteral("600,450 80x60 pending"), QStringLiteral("600,450 80x60")));
    QTest::newRow("a result chosen with D: → nudges it")
        << "key D; key Right" << 0
        << first(QString(kStartTwo).replace(QStringLiteral("600,450 80x60 pending"), QStringLiteral("601,450 80x60")));
    QTest::newRow("after a menu action: → steps")
        << "menu 2 difficult; key Right" << 1
        << first(s.replace(QStringLiteral("600,300 80x60"), QStringLiteral("600,300 80x60 difficult")));
    QTest::newRow("a framed selection: ← nudges both")
        << "key E; band 380 280 700 380; key Left" << 0
        << first(QString(kStartTwo).replace(QStringLiteral("400,300"), QStringLiteral("399,300"))
                     .replace(QStringLiteral("600,300"), QStringLiteral("599,300")));
}

void TestWindowPicks::arrowsMovePickedShapesOnly()
{
    QFETCH(QString, script);
    QFETCH(int, image);
    QFETCH(QString, first);

    writeFirstImage(kConfirmed, kTwoResults);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QCOMPARE(describe(window->scene()->annotations()), kStartTwo);

    run(*window, script);
    QTRY_COMPARE(window->currentImagePath(), m_images.at(image));
    const QList<Annotation> shapes = image == 0 ? window->scene()->annotations()
                                                : window->session()->cachedAnnotations(m_images.at(0));
    QCOMPARE(withoutIds(shapes), first);
}

// ---- each image's history -------------------------------------------------------------------

void TestWindowPicks::historyPerImage_data()
{
    QTest::addColumn<bool>("rewriteFile");   // another program rewrites the label file meanwhile
    QTest::addColumn<QString>("saved");      // the first image's label file at the end

    QTest::newRow("back on the image: Ctrl+Z undoes the move, saved on leaving")
        << false << "cat 400,300 80x60; dog 600,300 80x60; cat 400,450 80x60";
    QTest::newRow("its label file rewritten meanwhile: nothing stale is undone")
        << true << "bird 100,100 50x50";
}

void TestWindowPicks::historyPerImage()
{
    QFETCH(bool, rewriteFile);
    QFETCH(QString, saved);

    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("drag 1 30 -20; key PgDown"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QCOMPARE(withoutIds(loadAnnotations(m_images.at(0))).left(17), QStringLiteral("cat 430,280 80x60"));
    if (rewriteFile) {
        QTest::qWait(20);   // another tick of the file clock
        QVERIFY(saveAnnotations(m_images.at(0), {box(QStringLiteral("bird"), QRectF(100, 100, 50, 50))}, false, {}));
    }

    run(*window, QStringLiteral("key PgUp"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(0));
    QCOMPARE(window->actions().undo->isEnabled(), !rewriteFile);
    QVERIFY(!window->isDirty());
    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(window->isDirty(), !rewriteFile);
    run(*window, QStringLiteral("key PgDown"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QCOMPARE(withoutIds(loadAnnotations(m_images.at(0))), saved);
}

// ---- quitting ----------------------------------------------------------------------------------

void TestWindowPicks::quitAsksOnlyWhenUnsaved_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("asks");

    QTest::newRow("a move undone: nothing unsaved, Ctrl+Q quits") << "drag 1 30 -20; key Ctrl+Z" << false;
    QTest::newRow("a move undone and redone: Ctrl+Q asks") << "drag 1 30 -20; key Ctrl+Z; key Ctrl+Shift+Z" << true;
    QTest::newRow("nothing done: Ctrl+Q quits") << "" << false;
}

void TestWindowPicks::quitAsksOnlyWhenUnsaved()
{
    QFETCH(QString, script);
    QFETCH(bool, asks);

    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, script);
    QCOMPARE(window->isDirty(), asks);
    QCOMPARE(window->actions().quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QString asked;
    if (asks)
        answerMessageBox(translateText("取消"), &asked);
    run(*window, QStringLiteral("key Ctrl+Q"));
    QTRY_COMPARE(asked.isEmpty(), !asks);
    QCOMPARE(window->isVisible(), asks);   // cancelled: still open
}

// ---- the review goes by the object panel ------------------------------------------------------

void TestWindowPicks::reviewFollowsThePanel_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QList<uint>>("selected");
    QTest::addColumn<QString>("after");

    QTest::newRow("D selects the panel's first result, not the topmost") << "key D" << QList<uint>{4} << kStartTwo;
    QTest::newRow("A selects the panel's last") << "key A" << QList<uint>{5} << kStartTwo;
    QTest::newRow("Enter confirms the panel's first and selects the next row's")
        << "key Return" << QList<uint>{5}
        << QString(kStartTwo).replace(QStringLiteral("600,450 80x60 pending"), QStringLiteral("600,450 80x60"));
    QTest::newRow("Esc on the first rejects it and selects the next row's")
        << "key D; key Esc" << QList<uint>{5}
        << QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60; 5 car 800,250 60x40 pending");
}

void TestWindowPicks::reviewFollowsThePanel()
{
    QFETCH(QString, script);
    QFETCH(QList<uint>, selected);
    QFETCH(QString, after);

    writeFirstImage(kConfirmed, kTwoResults);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    // The panel lists the results in id order: 4 above 5.
    QListWidget *list = objectList(*window);
    QCOMPARE(list->item(3)->data(Qt::UserRole + 1).toUInt(), 4u);
    QCOMPARE(list->item(4)->data(Qt::UserRole + 1).toUInt(), 5u);

    run(*window, script);
    QCOMPARE(window->scene()->selectedIds(), selected);
    QCOMPARE(describe(window->scene()->annotations()), after);
    // A confirmed result is a label: no confidence tag left on it.
    for (const Annotation &a : window->scene()->annotations())
        QCOMPARE(a.confidence < 0, a.pending == 0);
}

void TestWindowPicks::panelShowsEverySelectedShape()
{
    writeFirstImage(kConfirmed, {});
    QVERIFY(writePendingFile(m_dir, {{m_images.at(0), kTwoResults},
                                     {m_images.at(2), {box(QStringLiteral("bus"), QRectF(500, 400, 80, 60), 1, 0.7)}}}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("click 1; ctrl-click 3; ctrl-click 5"));
    QList<uint> rows;
    for (QListWidgetItem *item : objectList(*window)->selectedItems())
        rows.append(item->data(Qt::UserRole + 1).toUInt());
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows, (QList<uint>{1, 3, 5}));

    // D on an image without results opens the next one that has some, its first result picked.
    run(*window, QStringLiteral("key PgDown"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QTRY_COMPARE(window->session()->imageState(m_images.at(2)).pending, 1);
    run(*window, QStringLiteral("key D"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(2));
    QCOMPARE(window->scene()->selectedIds().size(), 1);
    run(*window, QStringLiteral("key 2"));
    QCOMPARE(withoutIds(window->scene()->annotations()), QStringLiteral("dog 500,400 80x60"));
    QCOMPARE(window->toast()->text(), QStringLiteral("1 个标注 → dog（Ctrl+Z）"));
}

// ---- naming a new shape ---------------------------------------------------------------------

void TestWindowPicks::newShapeShownBesideItsDialog_data()
{
    QTest::addColumn<QRectF>("drawn");
    QTest::newRow("in the middle") << QRectF(500, 350, 160, 120);
    QTest::newRow("near the right edge") << QRectF(1000, 300, 180, 150);
    QTest::newRow("near the top left corner") << QRectF(20, 20, 150, 120);
}

void TestWindowPicks::newShapeShownBesideItsDialog()
{
    QFETCH(QRectF, drawn);

    auto window = openWindow(m_images.at(1), true);
    QVERIFY(window);
    QRectF namingSeen;
    QRect dialogSeen;
    whenShown([&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return false;
        namingSeen = window->scene()->namingRect();
        dialogSeen = dialog->frameGeometry();
        dialog->reject();
        return true;
    });
    drag(*window, drawn.topLeft(), drawn.bottomRight());
    QTRY_VERIFY(dialogSeen.isValid());
    QTRY_VERIFY(noPopupOrDialog());
    // The shape was drawn while the dialog asked, and the dialog kept off it.
    // (Fitted, a screen pixel is more than one image pixel.)
    const QRectF gap(namingSeen.topLeft() - drawn.topLeft(), namingSeen.bottomRight() - drawn.bottomRight());
    QVERIFY2(!namingSeen.isNull() && std::abs(gap.x()) < 3 && std::abs(gap.y()) < 3 && std::abs(gap.width()) < 3
                 && std::abs(gap.height()) < 3,
             "the drawn shape was not shown while it was named");
    const QRect onScreen = window->view()->mapFromScene(namingSeen).boundingRect();
    const QRect shape(window->view()->viewport()->mapToGlobal(onScreen.topLeft()), onScreen.size());
    QVERIFY2(!dialogSeen.intersects(shape), qPrintable(QStringLiteral("dialog %1,%2 %3x%4 over the shape")
                                                         .arg(dialogSeen.x()).arg(dialogSeen.y())
                                                         .arg(dialogSeen.width()).arg(dialogSeen.height())));
    // Cancelled: no shape, and no draft left on the canvas.
    QVERIFY(window->scene()->annotations().isEmpty());
    QVERIFY(window->scene()->namingRect().isNull());
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowPicks)
#include "tst_windowpicks.moc"
