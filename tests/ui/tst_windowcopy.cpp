#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfile.h"
#include "ui/annotationeditor.h"
#include "ui/toastwidget.h"

#include "support/foreignlabels.h"
#include "stylesheet.h"
#include "testmain.h"
#include "editfixture.h"
#include "editscript.h"
#include "windowfixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUndoStack>

#include <algorithm>

using namespace EditFixture;
using namespace WindowFixture;

// Shapes carried from one image to the next (Ctrl+Shift+V), what a save of them writes, and the
// flags a label file can keep.
class TestWindowCopy : public QObject, private EditScript
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void copyPreviousShapes_data();
    void copyPreviousShapes();
    void copyCarriesProportions_data();
    void copyCarriesProportions();
    void previousIsTheFolderOrder();
    void undoneSavedPasteLeavesNoFile_data();
    void undoneSavedPasteLeavesNoFile();
    void difficultOnlyWhereKept_data();
    void difficultOnlyWhereKept();
};

void TestWindowCopy::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestWindowCopy::init()
{
    prepareDataset();
}

void TestWindowCopy::cleanup()
{
    m_tmp.reset();
}

// ---- copying the previous image's shapes -----------------------------------------------------

void TestWindowCopy::copyPreviousShapes_data()
{
    QTest::addColumn<QList<Annotation>>("present");   // the second image's own shapes
    QTest::addColumn<QString>("copied");             // what the copy adds, without ids

    QTest::newRow("into an empty image")
        << QList<Annotation>{} << "cat 400,300 80x60; dog 600,300 80x60; cat 400,450 80x60";
    QTest::newRow("a box of the same label in another case at IoU 0.702 is left out")
        << QList<Annotation>{box(QStringLiteral("CAT"), QRectF(414, 300, 80, 60))}
        << "dog 600,300 80x60; cat 400,450 80x60";
    QTest::newRow("the same place with another label is kept")
        << QList<Annotation>{box(QStringLiteral("bird"), QRectF(400, 300, 80, 60))}
        << "cat 400,300 80x60; dog 600,300 80x60; cat 400,450 80x60";
    QTest::newRow("the same label at IoU 0.684 is kept")
        << QList<Annotation>{box(QStringLiteral("cat"), QRectF(415, 300, 80, 60))}
        << "cat 400,300 80x60; dog 600,300 80x60; cat 400,450 80x60";
}

void TestWindowCopy::copyPreviousShapes()
{
    QFETCH(QList<Annotation>, present);
    QFETCH(QString, copied);

    // The dog was a model result, confirmed: its score belongs to the first image only.
    QList<Annotation> first = kConfirmed;
    first[1].confidence = 0.83;
    writeFirstImage(first, kPending);
    if (!present.isEmpty())
        QVERIFY(saveAnnotations(m_images.at(1), present, false, {}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QUndoStack *stack = window->editor()->undoStack();
    QCOMPARE(stack->count(), 0);

    const QString before = describe(window->scene()->annotations(), false);
    const QString expected = before.isEmpty() ? copied : before + QStringLiteral("; ") + copied;
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(describe(window->scene()->annotations(), false), expected);
    QCOMPARE(undoTexts(stack), QStringList{"复制上一张的标注"});
    QCOMPARE(window->toast()->text(),
             QStringLiteral("已从 img1.png 复制 %1 个标注").arg(copied.count(QLatin1Char(';')) + 1));
    for (const Annotation &a : window->scene()->annotations())
        QCOMPARE(a.confidence, -1.0);

    // The second copy finds everything there already.
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(describe(window->scene()->annotations(), false), expected);
    QCOMPARE(stack->count(), 1);
    QCOMPARE(window->toast()->text(), QStringLiteral("img1.png 的标注都已在本图中"));

    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations(), false), before);
    run(*window, QStringLiteral("key Ctrl+Y"));
    QCOMPARE(describe(window->scene()->annotations(), false), expected);

    // Switching saves the copies; the new image starts with an empty history of its own, the
    // copied image keeps its one.
    run(*window, QStringLiteral("key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(2));
    const QList<Annotation> saved = loadAnnotations(m_images.at(1));
    QCOMPARE(describe(saved, false), expected);
    QVERIFY(std::all_of(saved.cbegin(), saved.cend(), [](const Annotation &a) { return a.confidence < 0; }));
    QCOMPARE(window->editor()->undoStack()->count(), 0);
    QCOMPARE(undoTexts(stack), QStringList{"复制上一张的标注"});
    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(window->scene()->annotations().size(), 0);
}

void TestWindowCopy::copyCarriesProportions_data()
{
    // The first image is 1200x900; its label file is another tool's.
    QTest::addColumn<QSize>("size");            // the second image's
    QTest::addColumn<QList<QRectF>>("boxes");   // the first image's cats
    QTest::addColumn<QString>("copied");
    QTest::addColumn<QString>("toast");

    const QList<QRectF> inside = {QRectF(400, 300, 80, 60), QRectF(0, 0, 1200, 900)};
    QTest::newRow("a smaller image of the same shape")
        << QSize(600, 450) << inside << "cat 200,150 40x30; cat 0,0 600x450" << "已从 img1.png 复制 2 个标注";
    QTest::newRow("a larger, wider image")
        << QSize(2400, 1350) << inside << "cat 800,450 160x90; cat 0,0 2400x1350" << "已从 img1.png 复制 2 个标注";
    QTest::newRow("the same size keeps the pixels")
        << QSize(1200, 900) << QList<QRectF>{QRectF(400.5, 300.25, 80, 60)} << "cat 400.5,300.25 80x60"
        << "已从 img1.png 复制 1 个标注";
    // Boxes another tool left beside the picture are clipped or left out, and the toast counts them.
    QTest::newRow("past the edge: clipped; beside it: left out")
        << QSize(600, 450)
        << QList<QRectF>{QRectF(1100, 800, 200, 200), QRectF(1300, 100, 100, 100), QRectF(-100, -100, 100, 100)}
        << "cat 550,400 50x50" << "已从 img1.png 复制 1 个标注，2 个落在本图之外，未复制";
    QTest::newRow("nothing inside") << QSize(600, 450) << QList<QRectF>{QRectF(1300, 100, 100, 100)} << ""
                                    << "已从 img1.png 复制 0 个标注，1 个落在本图之外，未复制";
}

void TestWindowCopy::copyCarriesProportions()
{
    QFETCH(QSize, size);
    QFETCH(QList<QRectF>, boxes);
    QFETCH(QString, copied);
    QFETCH(QString, toast);
    QList<Annotation> cats;
    for (const QRectF &b : boxes)
        cats.append(box(QStringLiteral("cat"), b));
    QVERIFY(ForeignLabels::writeVoc(m_images.at(0), cats));
    QVERIFY(makeImage(m_images.at(1), size.width(), size.height()));
    auto window = openWindow(m_images.at(0), true);
    QVERIFY(window);
    run(*window, QStringLiteral("key PgDown"));   // a shape may be selected: Right would nudge it
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(describe(window->scene()->annotations(), false), copied);
    QCOMPARE(window->toast()->text(), toast);

    // What is saved is what was shown, and nothing lies outside the picture.
    run(*window, QStringLiteral("key Ctrl+S"));
    if (copied.isEmpty()) {
        QCOMPARE(labelFormatOf(m_images.at(1)), LabelFormat::None);
        return;
    }
    const QList<Annotation> saved = loadAnnotations(m_images.at(1));
    QCOMPARE(saved.size(), window->scene()->annotations().size());
    for (const Annotation &a : saved)
        QVERIFY(QRectF(QPointF(0, 0), QSizeF(size)).contains(a.rect.normalized()));
}

void TestWindowCopy::previousIsTheFolderOrder()
{
    // Viewed last: img1; before img3 in the folder: img2, whose shapes are the ones wanted.
    writeFirstImage(kConfirmed, {});
    QVERIFY(saveAnnotations(m_images.at(1), {box(QStringLiteral("bird"), QRectF(100, 100, 50, 50))}, false, {}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(window->toast()->text(), QStringLiteral("这是目录中的第一张图片，没有上一张"));
    QCOMPARE(window->scene()->annotations().size(), kConfirmed.size());

    QVERIFY(window->showImage(m_images.at(2)));
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(describe(window->scene()->annotations(), false), QStringLiteral("bird 100,100 50x50"));
    QCOMPARE(window->toast()->text(), QStringLiteral("已从 img2.png 复制 1 个标注"));

    // Before img2 comes img1 again, whichever was shown last.
    QVERIFY(window->showImage(m_images.at(1)));
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(window->toast()->text(), QStringLiteral("已从 img1.png 复制 3 个标注"));
}

void TestWindowCopy::undoneSavedPasteLeavesNoFile_data()
{
    // A paste into an image without a label file, saved with Ctrl+S, then:
    QTest::addColumn<QString>("then");
    QTest::addColumn<bool>("fileLeft");       // the image's label file after the next save
    QTest::addColumn<bool>("background");     // it is a checked background image
    QTest::newRow("undone: no file, as before") << "undo" << false << false;
    QTest::newRow("undone, redone: the shapes") << "undo redo" << true << false;
    QTest::newRow("shapes deleted: a checked background") << "delete" << true << true;
}

void TestWindowCopy::undoneSavedPasteLeavesNoFile()
{
    QFETCH(QString, then);
    QFETCH(bool, fileLeft);
    QFETCH(bool, background);
    writeFirstImage({kConfirmed.first()}, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    run(*window, QStringLiteral("key Ctrl+Shift+V; key Ctrl+S"));
    QCOMPARE(loadAnnotations(m_images.at(1)).size(), 1);
    if (then == u"delete") {
        const uint id = window->scene()->annotations().first().id;
        run(*window, QStringLiteral("click %1; key Delete").arg(id));
        QCOMPARE(window->scene()->annotations().size(), 0);
    } else {
        run(*window, QStringLiteral("key Ctrl+Z"));
        if (then.contains(QStringLiteral("redo")))
            run(*window, QStringLiteral("key Ctrl+Y"));
    }
    run(*window, QStringLiteral("key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(2));
    QCOMPARE(labelFormatOf(m_images.at(1)) != LabelFormat::None, fileLeft);
    QCOMPARE(countAnnotations(m_images.at(1)) == 0, background);
    QCOMPARE(window->session()->imageState(m_images.at(1)).isBackground(), background);
}

// ---- the difficult flag --------------------------------------------------------------------

void TestWindowCopy::difficultOnlyWhereKept_data()
{
    QTest::addColumn<bool>("yolo");    // the first image's label file, and so the folder's format
    QTest::addColumn<int>("image");    // the image whose shape is flagged
    QTest::addColumn<bool>("kept");
    QTest::newRow("VOC file keeps it") << false << 0 << true;
    QTest::newRow("YOLO file cannot") << true << 0 << false;
    QTest::newRow("a new file in a YOLO folder cannot") << true << 1 << false;
}

void TestWindowCopy::difficultOnlyWhereKept()
{
    QFETCH(bool, yolo);
    QFETCH(int, image);
    QFETCH(bool, kept);
    QVERIFY(saveAnnotations(m_images.at(0), {kConfirmed.first()}, yolo, {QStringLiteral("cat")}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    if (image > 0) {
        run(*window, QStringLiteral("key Right"));
        QTRY_COMPARE(window->currentImagePath(), m_images.at(image));
        run(*window, QStringLiteral("key Ctrl+Shift+V"));
    }
    const uint id = window->scene()->annotations().first().id;
    const auto menu = answerPopupMenu(QStringLiteral("设为困难样本"));
    const QPoint p = at(*window, centreOf(*window, id));
    QWidget *viewport = window->view()->viewport();
    QTest::mouseClick(viewport, Qt::RightButton, {}, p);
    QContextMenuEvent event(QContextMenuEvent::Mouse, p, viewport->mapToGlobal(p));
    QApplication::sendEvent(viewport, &event);
    waitUntilAnswered(*window, menu);
    QCOMPARE(menu->disabled.isEmpty(), kept);
    if (!kept)
        QCOMPARE(menu->disabled, QStringList{"设为困难样本: YOLO 标注文件无法保存“困难”标记"});
    QCOMPARE(window->scene()->annotations().first().difficult, kept);
    run(*window, QStringLiteral("key Ctrl+S"));
    QCOMPARE(loadAnnotations(m_images.at(image)).first().difficult, kept);
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowCopy)
#include "tst_windowcopy.moc"
