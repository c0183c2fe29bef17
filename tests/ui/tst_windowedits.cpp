#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "canvas/shapeitembase.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfile.h"
#include "session/categoryorder.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
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

// Drawing, editing and undoing shapes; categories: their panel, number keys and deletion.
class TestWindowEdits : public QObject, private EditScript
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void drawnBoxIsNamed_data();
    void drawnBoxIsNamed();
    void newCategoryJoinsTheDataYaml_data();
    void newCategoryJoinsTheDataYaml();
    void confirmedResultOfANewCategoryAsksOnSave_data();
    void confirmedResultOfANewCategoryAsksOnSave();
    void drawWithoutAsking_data();
    void drawWithoutAsking();
    void everyEditUndoesAndRedoes_data();
    void everyEditUndoesAndRedoes();
    void rotatedBoxDrawnTurnedAndSaved();
    void mergeRules_data();
    void mergeRules();
    void categoryDeleteByClicks_data();
    void categoryDeleteByClicks();
    void fiftyFirstCategory_data();
    void fiftyFirstCategory();
    void panelsRefreshInPlace_data();
    void panelsRefreshInPlace();
    void numberKeys_data();
    void numberKeys();
    void categoryUsedInFilesAsksFirst_data();
    void categoryUsedInFilesAsksFirst();
};

void TestWindowEdits::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestWindowEdits::init()
{
    prepareDataset();
}

void TestWindowEdits::cleanup()
{
    m_tmp.reset();
}

// ---- adding a drawn box --------------------------------------------------------------------

void TestWindowEdits::drawnBoxIsNamed_data()
{
    QTest::addColumn<QString>("offer");        // category clicked in the panel first: lastLabel
    QTest::addColumn<bool>("clearField");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QString>("expected");     // the new shape's label; empty: nothing added

    QTest::newRow("typed name and Return") << "" << false << "bird" << false << "bird";
    QTest::newRow("surrounding spaces are dropped") << "" << false << "  fox  " << false << "fox";
    QTest::newRow("typing replaces the offered category") << "dog" << false << "fox" << false << "fox";
    QTest::newRow("Escape adds nothing") << "dog" << false << "fox" << true << "";
    QTest::newRow("emptied field takes the offered category") << "dog" << true << "" << false << "dog";
    QTest::newRow("emptied field without an offer adds nothing") << "" << true << "" << false << "";
}

void TestWindowEdits::drawnBoxIsNamed()
{
    QFETCH(QString, offer);
    QFETCH(bool, clearField);
    QFETCH(QString, typed);
    QFETCH(bool, escape);
    QFETCH(QString, expected);

    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    if (!offer.isEmpty())
        run(*window, QStringLiteral("category-click ") + offer);
    QCOMPARE(window->categories()->lastLabel(), offer);

    const QPointF from(700, 550), to(780, 620);
    const auto answer = answerLabelDialog(typed, escape ? LabelFinish::Escape : LabelFinish::Return, clearField);
    drag(*window, from, to);
    waitUntilAnswered(*window, answer);
    QCOMPARE(answer->title, QStringLiteral("输入类别"));
    QCOMPARE(answer->offered, offer);

    QUndoStack *stack = window->editor()->undoStack();
    const QList<Annotation> shapes = window->scene()->annotations();
    if (expected.isEmpty()) {
        QCOMPARE(shapes.size(), 3);
        QCOMPARE(stack->count(), 0);
        QCOMPARE(window->actions().undo->text(), QStringLiteral("撤销"));
        QVERIFY(!window->actions().undo->isEnabled());
        return;
    }
    QCOMPARE(shapes.size(), 4);
    QCOMPARE(describe(shapes.last()), QStringLiteral("4 %1 700,550 80x70").arg(expected));
    QCOMPARE(window->scene()->selectedIds(), QList<uint>{4});
    QCOMPARE(stack->count(), 1);
    QCOMPARE(window->actions().undo->text(), QStringLiteral("撤销 添加标注"));
    // A new category joins the end: the rows above keep their numbers.
    QStringList categories = {"cat", "dog", "bird"};
    if (!categories.contains(expected))
        categories.append(expected);
    QCOMPARE(window->categories()->labels(), categories);
    QCOMPARE(window->categories()->lastLabel(), expected);

    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(window->scene()->annotations().size(), 3);
    QCOMPARE(window->actions().redo->text(), QStringLiteral("重做 添加标注"));
    run(*window, QStringLiteral("key Ctrl+Y"));
    QCOMPARE(describe(window->scene()->annotations().last()), QStringLiteral("4 %1 700,550 80x70").arg(expected));
}

// "Don't ask for the category": a drawn shape takes the current category, shown in the status
// bar; the dialog still asks while there is none. The choice outlives the window.
void TestWindowEdits::newCategoryJoinsTheDataYaml_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("added at the end of data.yaml") << "加入";
    QTest::newRow("declined: the shape is not added") << "取消";
}

// The dataset's names come from data.yaml: a new category joins it, with the user's consent,
// and never a second class list beside it.
void TestWindowEdits::newCategoryJoinsTheDataYaml()
{
    QFETCH(QString, button);
    const bool add = button == QStringLiteral("加入");
    const QString yaml = m_dir + QStringLiteral("/data.yaml");
    const QByteArray before("train: .  # the images\nnc: 2\nnames:\n  - car\n  - bus\n");
    QVERIFY(writeBytes(yaml, before));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QCOMPARE(window->session()->categories()->namesFile(), yaml);
    const qsizetype shapes = window->scene()->annotations().size();

    QString question;
    const auto answer = answerLabelDialog(QStringLiteral("truck"));
    answerMessageBox(button, &question);
    drag(*window, QPointF(700, 550), QPointF(780, 620));
    waitUntilAnswered(*window, answer);
    QTRY_VERIFY(!question.isEmpty());
    QVERIFY2(question.contains(QStringLiteral("truck")) && question.contains(QDir::toNativeSeparators(yaml)),
             qPrintable(question));
    QTRY_COMPARE(window->scene()->annotations().size(), shapes + (add ? 1 : 0));
    QCOMPARE(readBytes(yaml), add ? QByteArray("train: .  # the images\nnc: 3\nnames:\n  - car\n  - bus\n  - truck\n")
                                  : before);
    QCOMPARE(window->session()->categories()->rows().contains(QStringLiteral("truck")), add);
    QVERIFY(window->saveCurrent());
    QVERIFY(!QFileInfo::exists(m_dir + QStringLiteral("/labels/classes.txt")));
    QVERIFY(!QFileInfo::exists(m_dir + QStringLiteral("/classes.txt")));

    // The name is in the file now: drawing it again asks nothing.
    if (add) {
        const auto again = answerLabelDialog(QStringLiteral("truck"));
        drag(*window, QPointF(300, 300), QPointF(380, 360));
        waitUntilAnswered(*window, again);
        QTRY_COMPARE(window->scene()->annotations().size(), shapes + 2);
        QCOMPARE(readBytes(yaml).count("truck"), 1);
    }
}

void TestWindowEdits::confirmedResultOfANewCategoryAsksOnSave_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("added, then saved") << "加入";
    QTest::newRow("declined: not saved, and told why") << "取消";
}

// A model's ⚡ "truck" confirmed in a YOLO dataset whose data.yaml names only "car": the save
// asks before the label file may name it.
void TestWindowEdits::confirmedResultOfANewCategoryAsksOnSave()
{
    QFETCH(QString, button);
    const bool add = button == QStringLiteral("加入");
    const QString yaml = m_dir + QStringLiteral("/data.yaml");
    const QByteArray before("names: [car]\n");
    QVERIFY(writeBytes(yaml, before));
    QVERIFY(saveAnnotations(m_images.at(0), {box(QStringLiteral("car"), QRectF(400, 300, 80, 60))}, true, {}));
    const QByteArray labels = readBytes(yoloLabelPath(m_images.at(0)));
    QVERIFY(writePendingFile(m_dir, {{m_images.at(0), {box(QStringLiteral("truck"), QRectF(600, 450, 80, 60), 1, 0.9)}}}));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QTRY_COMPARE(window->scene()->annotations().size(), 2);
    window->actions().confirmAll->trigger();

    QString question;
    answerMessageBox(button, &question);
    QCOMPARE(window->saveCurrent(), add);
    QVERIFY2(question.contains(QStringLiteral("truck")), qPrintable(question));
    QCOMPARE(readBytes(yaml), add ? QByteArray("names: [car, truck]\n") : before);
    QVERIFY(!QFileInfo::exists(labelsDirFor(m_images.at(0)) + QStringLiteral("/classes.txt")));
    if (add) {
        QCOMPARE(labelsMarkingPending(loadAnnotations(m_images.at(0))), (QStringList{"car", "truck"}));
    } else {
        QCOMPARE(readBytes(yoloLabelPath(m_images.at(0))), labels);
        QVERIFY2(window->toast()->text().contains(QDir::toNativeSeparators(yaml)), qPrintable(window->toast()->text()));
        window->editor()->markSaved();
    }
}

void TestWindowEdits::drawWithoutAsking_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("added");     // the shapes after kStart
    QTest::addColumn<bool>("dontAsk");      // the toggle afterwards
    QTest::addColumn<QString>("status");    // the status bar's category

    QTest::newRow("on: the category chosen with a key, no dialog")
        << "dont-ask; key 3; draw-direct 700 550 780 620" << "5 bird 700,550 80x70" << true << "类别：bird · 不询问";
    QTest::newRow("on: the category clicked in the panel, no dialog")
        << "dont-ask; category-click dog; draw-direct 700 550 780 620" << "5 dog 700,550 80x70" << true
        << "类别：dog · 不询问";
    QTest::newRow("on: the last category used, no dialog")
        << "draw 700 550 780 620 fox; dont-ask; draw-direct 700 700 780 760"
        << "5 fox 700,550 80x70; 6 fox 700,700 80x60" << true << "类别：fox · 不询问";
    QTest::newRow("on without a category yet: the dialog asks once")
        << "dont-ask; draw 700 550 780 620 fox; draw-direct 700 700 780 760"
        << "5 fox 700,550 80x70; 6 fox 700,700 80x60" << true << "类别：fox · 不询问";
    QTest::newRow("on: a polygon takes the category too")
        << "dont-ask; key 2; key P; point 700 550; point 780 550; point 780 620; close-direct"
        << "5 dog 0,0 0x0" << true << "类别：dog · 不询问";
    QTest::newRow("off: the dialog asks although a category is chosen")
        << "key 3; draw 700 550 780 620 fox" << "5 fox 700,550 80x70" << false << "类别：fox";
    QTest::newRow("ticked in the dialog: on from the next shape")
        << "draw-tick 700 550 780 620 fox; draw-direct 700 700 780 760"
        << "5 fox 700,550 80x70; 6 fox 700,700 80x60" << true << "类别：fox · 不询问";
    QTest::newRow("unticked in the dialog: off again")
        << "dont-ask; draw-tick 700 550 780 620 fox; draw 700 700 780 760 cat"
        << "5 fox 700,550 80x70; 6 cat 700,700 80x60" << false << "类别：cat";
    QTest::newRow("on: the category chosen in the status bar, no dialog")
        << "key 3; status-category fox; dont-ask; draw-direct 700 550 780 620" << "5 fox 700,550 80x70" << true
        << "类别：fox · 不询问";
    QTest::newRow("off: the status bar's choice is offered in the dialog")
        << "key 3; status-category dog; draw 700 550 780 620" << "5 dog 700,550 80x70" << false << "类别：dog";
    QTest::newRow("ticked in the status bar's chooser: on from the next shape")
        << "key 3; status-category cat tick; draw-direct 700 550 780 620" << "5 cat 700,550 80x70" << true
        << "类别：cat · 不询问";
    QTest::newRow("off again from the menu: the dialog asks")
        << "dont-ask; key 3; draw-direct 700 550 780 620; dont-ask; draw 700 700 780 760 fox"
        << "5 bird 700,550 80x70; 6 fox 700,700 80x60" << false << "类别：fox";
}

void TestWindowEdits::drawWithoutAsking()
{
    QFETCH(QString, script);
    QFETCH(QString, added);
    QFETCH(bool, dontAsk);
    QFETCH(QString, status);

    writeFirstImage(kConfirmed, kPending);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QVERIFY(!window->dontAskCategory());   // off by default
    QCOMPARE(window->statusPanel()->categoryText(), QString());

    run(*window, script);
    QCOMPARE(describe(window->scene()->annotations()), kStart + QStringLiteral("; ") + added);
    QCOMPARE(window->dontAskCategory(), dontAsk);
    QCOMPARE(window->actions().dontAskCategory->isChecked(), dontAsk);
    QCOMPARE(window->statusPanel()->categoryText(), status);

    // Each drawn shape is one step, undone like any other.
    const int shapes = int(added.count(QLatin1Char(';'))) + 1;
    QCOMPARE(undoTexts(window->editor()->undoStack()), QStringList(shapes, QStringLiteral("添加标注")));
    for (int i = 0; i < shapes; ++i)
        run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations()), kStart);

    window.reset();
    QCOMPARE(QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
                 .value(QStringLiteral("annotate/dontAskCategory"), false).toBool(),
             dontAsk);
    auto again = openWindow(m_images.at(0));
    QVERIFY(again);
    QCOMPARE(again->dontAskCategory(), dontAsk);
    QCOMPARE(again->actions().dontAskCategory->isChecked(), dontAsk);
}

// ---- every command: its text, its undo and its redo ----------------------------------------

void TestWindowEdits::everyEditUndoesAndRedoes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("text");      // of the one undo step
    QTest::addColumn<QString>("after");

    const auto row = [](const char *name, const char *script, const char *text, const QString &after) {
        QTest::newRow(name) << QString::fromUtf8(script) << QString::fromUtf8(text) << after;
    };
    QString s = kStart;
    row("resize by a handle", "click 1; resize 1 20 10", "调整标注",
        s.replace(QStringLiteral("1 cat 400,300 80x60"), QStringLiteral("1 cat 400,300 100x70")));
    s = kStart;
    row("move by a mouse drag", "drag 1 30 -20", "调整标注",
        s.replace(QStringLiteral("1 cat 400,300"), QStringLiteral("1 cat 430,280")));
    s = kStart;
    row("move by arrow keys", "click 1; key Right; key Right; key Shift+Down", "移动标注",
        s.replace(QStringLiteral("1 cat 400,300"), QStringLiteral("1 cat 402,310")));
    s = kStart;
    row("relabel through the context menu", "menu 1 relabel bird", "修改类别",
        s.replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")));
    s = kStart;
    row("relabel by double-clicking a category", "click 1; category-dblclick dog", "修改类别",
        s.replace(QStringLiteral("1 cat"), QStringLiteral("1 dog")));
    s = kStart;
    row("difficult through the context menu", "menu 2 difficult", "设为困难样本",
        s.replace(QStringLiteral("600,300 80x60"), QStringLiteral("600,300 80x60 difficult")));
    row("delete one with Del", "click 2; key Del", "删除标注",
        QStringLiteral("1 cat 400,300 80x60; 3 cat 400,450 80x60; 4 cat 600,450 80x60 pending"));
    row("delete through the context menu", "menu 3 delete", "删除标注",
        QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 4 cat 600,450 80x60 pending"));
    row("delete three selected", "click 1; ctrl-click 2; ctrl-click 4; key Del", "删除 3 个标注",
        QStringLiteral("3 cat 400,450 80x60"));
    s = kStart;
    const QString confirmed = s.replace(QStringLiteral(" pending"), QString());
    row("confirm the selected pending shape with Enter", "click 4; key Return", "确认标注", confirmed);
    row("confirm by double-clicking the shape", "dblclick 4", "确认标注", confirmed);
    row("confirm through the context menu", "menu 4 confirm", "确认标注", confirmed);
    s = kStart;
    row("a pending shape given a category becomes confirmed", "click 4; category-dblclick dog", "修改类别",
        s.replace(QStringLiteral("4 cat 600,450 80x60 pending"), QStringLiteral("4 dog 600,450 80x60")));
    s = kStart;
    row("dragging a pending shape confirms it", "drag 4 10 10", "调整标注",
        s.replace(QStringLiteral("4 cat 600,450 80x60 pending"), QStringLiteral("4 cat 610,460 80x60")));
    s = kStart;
    row("a box made a rotated box through the context menu", "menu 2 rotate", "转为旋转框",
        s.replace(QStringLiteral("2 dog 600,300 80x60"), QStringLiteral("2 dog 600,300 80x60 turned 0")));
    row("reject the selected pending shape with Esc", "click 4; key Esc", "拒绝标注",
        QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60"));
}

// R draws a rotated box, Z / X turn it by 1 degree and Shift+Z by 15, the context menu makes it
// upright again; every step is undone, and the save writes its corners.
void TestWindowEdits::rotatedBoxDrawnTurnedAndSaved()
{
    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, QStringLiteral("key R; draw 500 380 580 430 bird; key X; key X; key Shift+Z"));
    QCOMPARE(window->scene()->mode(), int(AnnotationScene::RotatedMode));
    const QList<Annotation> shown = window->scene()->annotations();
    QCOMPARE(shown.size(), 4);
    const RotatedFrame frame = RotatedFrame::fromCorners(shown.last().points);
    QCOMPARE(qRound(frame.angle), -13);
    QVERIFY(nearPoints({frame.centre, QPointF(frame.width, frame.height)}, {{540, 405}, {80, 50}}, 1e-6));
    QCOMPARE(undoTexts(window->editor()->undoStack()).first(), QStringLiteral("添加标注"));

    run(*window, QStringLiteral("key Ctrl+S"));
    const QList<Annotation> saved = loadAnnotations(m_images.at(0));
    QCOMPARE(saved.size(), 4);
    QCOMPARE(saved.last().kind, Annotation::Rotated);
    QCOMPARE(saved.last().label, QStringLiteral("bird"));
    QVERIFY(nearPoints(saved.last().points, shown.last().points, 0.01));

    run(*window, QStringLiteral("menu 4 upright"));
    QCOMPARE(describe(window->scene()->annotations().last()), QStringLiteral("4 bird 500,380 80x50"));
    const int steps = int(window->editor()->undoStack()->count());
    for (int i = 0; i < steps; ++i)
        run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations()), QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; "
                                                                      "3 cat 400,450 80x60"));
}

void TestWindowEdits::everyEditUndoesAndRedoes()
{
    QFETCH(QString, script);
    QFETCH(QString, text);
    QFETCH(QString, after);

    writeFirstImage(kConfirmed, kPending);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    AnnotationScene *scene = window->scene();
    QCOMPARE(describe(scene->annotations()), kStart);

    run(*window, script);
    QCOMPARE(describe(scene->annotations()), after);
    QCOMPARE(undoTexts(window->editor()->undoStack()), QStringList{text});
    QCOMPARE(window->actions().undo->text(), QStringLiteral("撤销 ") + text);
    QVERIFY(window->isDirty());

    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(scene->annotations()), kStart);
    // Back at the saved state: nothing is unsaved.
    QVERIFY(!window->isDirty());
    QCOMPARE(window->actions().redo->text(), QStringLiteral("重做 ") + text);
    QVERIFY(!window->actions().undo->isEnabled());

    run(*window, QStringLiteral("key Ctrl+Shift+Z"));
    QCOMPARE(describe(scene->annotations()), after);
    QCOMPARE(window->actions().undo->text(), QStringLiteral("撤销 ") + text);

    // The object panel follows the scene through undo and redo.
    QCOMPARE(objectList(*window)->count(), scene->annotations().size());
}

// ---- which edits become one undo step ------------------------------------------------------

void TestWindowEdits::mergeRules_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("afterOneUndo");

    const QString start = QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60");
    const auto with = [&](const char *from, const char *to) {
        return QString(start).replace(QString::fromUtf8(from), QString::fromUtf8(to));
    };
    QTest::newRow("five arrow-key moves are one step")
        << "click 1; key Right; key Right; key Right; key Down; key Down" << QStringList{"移动标注"} << start;
    QTest::newRow("a mouse drag between arrow-key moves splits them")
        << "click 1; key Right; drag 1 10 0; key Right" << QStringList{"移动标注", "调整标注", "移动标注"}
        << with("1 cat 400,300", "1 cat 411,300");
    QTest::newRow("two resizes are one step") << "click 1; resize 1 10 10; resize 1 10 0"
                                              << QStringList{"调整标注"} << start;
    QTest::newRow("relabel then resize is one step named after the relabel")
        << "click 1; key 2; resize 1 20 0" << QStringList{"修改类别"} << start;
    QTest::newRow("a resize and a later arrow-key move stay apart")
        << "click 1; resize 1 20 0; key Left" << QStringList{"调整标注", "移动标注"}
        << with("1 cat 400,300 80x60", "1 cat 400,300 100x60");
    QTest::newRow("moves of two shapes stay apart") << "click 2; key Up; click 1; key Up"
                                                   << QStringList{"移动标注", "移动标注"}
                                                   << with("2 dog 600,300", "2 dog 600,299");
    // Undo after a deletion brings the shape back as it was just before.
    QTest::newRow("deleting a box just drawn is a step of its own")
        << "draw 700 550 780 620 fox; key Del" << QStringList{"添加标注", "删除标注"}
        << start + "; 4 fox 700,550 80x70";
    QTest::newRow("a box drawn then moved: undo moves it back")
        << "draw 700 550 780 620 fox; drag 4 30 20" << QStringList{"添加标注", "调整标注"}
        << start + "; 4 fox 700,550 80x70";
    QTest::newRow("a box drawn then resized: undo resizes it back")
        << "draw 700 550 780 620 fox; resize 4 10 10" << QStringList{"添加标注", "调整标注"}
        << start + "; 4 fox 700,550 80x70";
    QTest::newRow("a relabel then a deletion: undo brings back the relabelled shape")
        << "click 1; key 2; key Del" << QStringList{"修改类别", "删除标注"} << with("1 cat", "1 dog");
    QTest::newRow("a resize then a deletion through the menu")
        << "click 3; resize 3 10 10; menu 3 delete" << QStringList{"调整标注", "删除标注"}
        << with("3 cat 400,450 80x60", "3 cat 400,450 90x70");
}

void TestWindowEdits::mergeRules()
{
    QFETCH(QString, script);
    QFETCH(QStringList, texts);
    QFETCH(QString, afterOneUndo);

    writeFirstImage(kConfirmed, {});
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    run(*window, script);
    QCOMPARE(undoTexts(window->editor()->undoStack()), texts);

    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations()), afterOneUndo);
    for (qsizetype i = 1; i < texts.size(); ++i)
        run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations()),
             QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60"));
    QVERIFY(!window->actions().undo->isEnabled());
}

// ---- deleting a category from its row ------------------------------------------------------

void TestWindowEdits::categoryDeleteByClicks_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QStringList>("clicks");   // zones of the row: cross, check, or "body:<other>"
    QTest::addColumn<QString>("toast");        // empty: nothing deleted
    QTest::addColumn<QString>("shapesLeft");

    QTest::newRow("with annotations: cross, then check")
        << "cat" << QStringList{"cross", "check"} << "已删除类别 cat（含 3 个标注）" << "2 dog 600,300 80x60";
    QTest::newRow("without annotations: one click on the cross")
        << "bird" << QStringList{"cross"} << "已删除类别 bird" << kStart;
    QTest::newRow("the cross cancels the question") << "dog" << QStringList{"cross", "cross"} << "" << kStart;
    QTest::newRow("another row cancels the question") << "dog" << QStringList{"cross", "body:cat"} << "" << kStart;
}

void TestWindowEdits::categoryDeleteByClicks()
{
    QFETCH(QString, category);
    QFETCH(QStringList, clicks);
    QFETCH(QString, toast);
    QFETCH(QString, shapesLeft);

    writeFirstImage(kConfirmed, kPending);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QListWidget *list = categoryList(*window);
    const QStringList rowsBefore = rowTexts(list);
    QCOMPARE(rowsBefore, (QStringList{"cat", "dog", "bird"}));

    for (const QString &zone : clicks) {
        const bool other = zone.startsWith(QLatin1String("body:"));
        const QPoint p = categoryPoint(list, other ? zone.mid(5) : category, other ? QStringLiteral("body") : zone);
        QVERIFY(list->viewport()->rect().contains(p));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
    }
    // The folder's other label files are counted first, on a worker; none of them uses it.
    if (!toast.isEmpty())
        QTRY_COMPARE(window->toast()->text(), toast);
    QCOMPARE(describe(window->scene()->annotations()), shapesLeft);
    QUndoStack *stack = window->editor()->undoStack();
    if (toast.isEmpty()) {
        QCOMPARE(rowTexts(list), rowsBefore);
        QVERIFY(!categoryAsking(list, category));
        QCOMPARE(stack->count(), 0);
        return;
    }
    QCOMPARE(window->toast()->text(), toast);
    QVERIFY(!window->categories()->labels().contains(category));
    QVERIFY(!rowTexts(list).contains(category));
    const bool withShapes = shapesLeft != kStart;
    const QString text = QStringLiteral("删除类别 ") + category;
    QCOMPARE(undoTexts(stack), withShapes ? (QStringList{text, text}) : (QStringList{text}));

    // First undo: the category comes back at the end of the list; its shapes are still gone.
    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(window->categories()->labels().last(), category);
    QCOMPARE(rowTexts(list).last(), category);
    QCOMPARE(describe(window->scene()->annotations()), shapesLeft);
    if (withShapes) {
        // Second undo: the shapes, with their ids.
        run(*window, QStringLiteral("key Ctrl+Z"));
        QCOMPARE(describe(window->scene()->annotations()), kStart);
    }
    QVERIFY(!window->actions().undo->isEnabled());
    QCOMPARE(WindowSettings::load().labels, window->categories()->labels());

    // Redo deletes again, in the same order.
    for (qsizetype i = 0; i < stack->count(); ++i)
        run(*window, QStringLiteral("key Ctrl+Y"));
    QCOMPARE(describe(window->scene()->annotations()), shapesLeft);
    QVERIFY(!window->categories()->labels().contains(category));
    QVERIFY(!rowTexts(list).contains(category));
}

// ---- the category history keeps fifty --------------------------------------------------------

void TestWindowEdits::fiftyFirstCategory_data()
{
    QTest::addColumn<bool>("byDrawing");
    QTest::newRow("through the add button") << false;
    QTest::newRow("through a drawn box") << true;
}

void TestWindowEdits::fiftyFirstCategory()
{
    QFETCH(bool, byDrawing);
    QStringList fifty;
    for (int i = 1; i <= 50; ++i)
        fifty.append(QStringLiteral("c%1").arg(i, 2, 10, QLatin1Char('0')));   // c01 most recent
    WindowSettings::saveLabels(fifty);
    auto window = openWindow(m_images.at(1));
    QVERIFY(window);
    QCOMPARE(window->categories()->labels(), fifty);

    if (byDrawing) {
        run(*window, QStringLiteral("draw 500 400 600 480 newcomer"));
        QCOMPARE(window->scene()->annotations().size(), 1);
    } else {
        // A category chosen for the next shape is not what the new one is called.
        run(*window, QStringLiteral("key 2"));
        QCOMPARE(window->categories()->lastLabel(), QStringLiteral("c02"));
        const auto answer = answerLabelDialog(QStringLiteral("newcomer"));
        auto *add = window->objectPanel()->findChild<QToolButton *>();
        QVERIFY(add);
        QTest::mouseClick(add, Qt::LeftButton);
        waitUntilAnswered(*window, answer);
        QCOMPARE(answer->title, QStringLiteral("新增类别"));
        QCOMPARE(answer->offered, QString());
        QCOMPARE(window->editor()->undoStack()->count(), 0);   // not an undo step
    }
    // The newcomer joins the end; c50, the least recently used, is gone.
    const QStringList expected = fifty.mid(0, 49) + QStringList{QStringLiteral("newcomer")};
    QCOMPARE(window->categories()->labels(), expected);
    QCOMPARE(window->categories()->lastLabel(), QStringLiteral("newcomer"));
    QCOMPARE(rowTexts(categoryList(*window)), expected);
    QCOMPARE(WindowSettings::load().labels, expected);
}

// ---- the panels refresh without rebuilding ---------------------------------------------------

void TestWindowEdits::panelsRefreshInPlace_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("rowText");     // shape 2's row afterwards: name | detail
    QTest::addColumn<bool>("stillAsking");    // the "dog" row's delete question survives

    QTest::newRow("arrow-key move") << "key Right; key Right" << "dog|80×60" << true;
    QTest::newRow("resize") << "resize 2 15 5" << "dog|95×65" << true;
    QTest::newRow("relabel by number key") << "key 3" << "bird|80×60" << true;
    QTest::newRow("undo of a move") << "key Up; key Ctrl+Z" << "dog|80×60" << true;
}

void TestWindowEdits::panelsRefreshInPlace()
{
    QFETCH(QString, script);
    QFETCH(QString, rowText);
    QFETCH(bool, stillAsking);

    writeFirstImage(kConfirmed, kPending);
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QListWidget *objects = objectList(*window);
    QListWidget *categories = categoryList(*window);

    // Select shape 2 by its row in the panel, then ask to delete "dog" (and leave it asking).
    QTest::mouseClick(objects->viewport(), Qt::LeftButton, {}, objects->visualItemRect(objects->item(1)).center());
    QCOMPARE(window->scene()->selectedIds(), QList<uint>{2});
    QTest::mouseClick(categories->viewport(), Qt::LeftButton, {}, categoryPoint(categories, "dog", "cross"));
    QVERIFY(categoryAsking(categories, QStringLiteral("dog")));
    QList<QListWidgetItem *> rowsBefore;
    for (int i = 0; i < objects->count(); ++i)
        rowsBefore.append(objects->item(i));

    // The canvas takes the keys again, as after a click on the selected shape.
    run(*window, QStringLiteral("click 2; ") + script);
    QList<QListWidgetItem *> rowsAfter;
    QList<uint> ids;
    for (int i = 0; i < objects->count(); ++i) {
        rowsAfter.append(objects->item(i));
        ids.append(objects->item(i)->data(Qt::UserRole + 1).toUInt());
    }
    QCOMPARE(rowsAfter, rowsBefore);   // the same row objects: refilled, not rebuilt
    QCOMPARE(ids, (QList<uint>{1, 2, 3, 4}));
    const QListWidgetItem *row = objects->item(1);
    QCOMPARE(row->text() + QLatin1Char('|') + row->data(Qt::UserRole + 4).toString(), rowText);
    QVERIFY(row->isSelected());
    QCOMPARE(categoryAsking(categories, QStringLiteral("dog")), stillAsking);
}

// ---- number keys -----------------------------------------------------------------------------

void TestWindowEdits::numberKeys_data()
{
    QTest::addColumn<QStringList>("classes");   // the dataset's classes.txt; empty: none
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("lastLabel");
    QTest::addColumn<QStringList>("rows");      // the category rows afterwards: the keys' order
    QTest::addColumn<QString>("toast");         // the last toast; empty: not looked at

    const QStringList history = {"cat", "dog", "bird"};
    QTest::newRow("nothing selected: the key offers the category for the next box")
        << QStringList{} << "key 3; draw 700 550 780 620" << kStart + "; 5 bird 700,550 80x70"
        << QStringList{"添加标注"} << "bird" << history << "";
    QString s = kStart;
    QTest::newRow("one selected: the key relabels it")
        << QStringList{} << "click 1; key 2" << s.replace(QStringLiteral("1 cat"), QStringLiteral("1 dog"))
        << QStringList{"修改类别"} << "dog" << history << "";
    QTest::newRow("several selected: one step relabels all")
        << QStringList{} << "key E; band 380 280 700 380; key 3"
        << "1 bird 400,300 80x60; 2 bird 600,300 80x60; 3 cat 400,450 80x60; 4 cat 600,450 80x60 pending"
        << QStringList{"修改类别"} << "bird" << history << "2 个标注 → bird（Ctrl+Z）";
    QTest::newRow("several selected, pending among them: confirmed with the category")
        << QStringList{} << "click 1; ctrl-click 4; key 2"
        << "1 dog 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60; 4 dog 600,450 80x60"
        << QStringList{"修改类别"} << "dog" << history << "";
    QTest::newRow("the shape carries the category already")
        << QStringList{} << "click 1; key 1" << kStart << QStringList{} << "" << history << "";
    QTest::newRow("a key without a row does nothing")
        << QStringList{} << "click 1; key 9" << kStart << QStringList{} << "" << history << "";
    // Using a category never renumbers the rows.
    QTest::newRow("rows keep their numbers after use")
        << QStringList{} << "click 1; key 3; click 3; key 3"
        << "1 bird 400,300 80x60; 2 dog 600,300 80x60; 3 bird 400,450 80x60; 4 cat 600,450 80x60 pending"
        << QStringList{"修改类别", "修改类别"} << "bird" << history << "";
    QTest::newRow("a new category joins the rows at the end")
        << QStringList{} << "draw 700 550 780 620 fox"
        << kStart + "; 5 fox 700,550 80x70" << QStringList{"添加标注"} << "fox"
        << QStringList{"cat", "dog", "bird", "fox"} << "";
    // The box just drawn stays selected for the arrows, but a digit then is meant for the next box.
    QTest::newRow("right after drawing: the key offers the category for the next box")
        << QStringList{} << "draw 700 550 780 620 fox; key 2; draw 700 700 780 760"
        << kStart + "; 5 fox 700,550 80x70; 6 dog 700,700 80x60" << QStringList{"添加标注", "添加标注"} << "dog"
        << QStringList{"cat", "dog", "bird", "fox"} << "";
    QTest::newRow("the drawn box clicked again: the key relabels it")
        << QStringList{} << "draw 700 550 780 620 fox; click 5; key 2"
        << kStart + "; 5 dog 700,550 80x70" << QStringList{"添加标注", "修改类别"} << "dog"
        << QStringList{"cat", "dog", "bird", "fox"} << "";
    QTest::newRow("the drawn box clicked and nudged: the key relabels it")
        << QStringList{} << "draw 700 550 780 620 fox; click 5; key Right; key 3"
        << kStart + "; 5 bird 701,550 80x70" << QStringList{"添加标注", "移动标注", "修改类别"} << "bird"
        << QStringList{"cat", "dog", "bird", "fox"} << "1 个标注 → bird（Ctrl+Z）";
    // A shape selected as a side effect is not the user's choice: the digit is for the next shape (a polygon after P).
    QString difficult = kStart;
    difficult.replace(QStringLiteral("600,300 80x60"), QStringLiteral("600,300 80x60 difficult"));
    QTest::newRow("after a menu action and a mode key: the key is for the next shape")
        << QStringList{} << "menu 2 difficult; key P; key 1" << difficult << QStringList{"设为困难样本"} << "cat"
        << history << "下一个多边形的类别：cat";
    QTest::newRow("after a relabel through the menu: the key is for the next shape")
        << QStringList{} << "menu 1 relabel bird; key 2"
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")) << QStringList{"修改类别"}
        << "dog" << history << "下一个框的类别：dog";
    QTest::newRow("a result chosen with A: the key relabels it")
        << QStringList{} << "key A; key 2"
        << QString(kStart).replace(QStringLiteral("4 cat 600,450 80x60 pending"), QStringLiteral("4 dog 600,450 80x60"))
        << QStringList{"修改类别"} << "dog" << history << "1 个标注 → dog（Ctrl+Z）";
    QTest::newRow("a row of the object panel: the key relabels its shape")
        << QStringList{} << "row 3; key 3"
        << QString(kStart).replace(QStringLiteral("3 cat"), QStringLiteral("3 bird")) << QStringList{"修改类别"}
        << "bird" << history << "1 个标注 → bird（Ctrl+Z）";
    // With a class list the rows follow it, then the other categories in the order first used.
    QTest::newRow("the dataset's class list numbers the rows")
        << QStringList{"bird", "dog", "cat"} << "click 1; key 1"
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")) << QStringList{"修改类别"}
        << "bird" << QStringList{"bird", "dog", "cat"} << "";
    QTest::newRow("categories beyond the class list follow it")
        << QStringList{"dog", "horse"} << "click 1; key 4"
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")) << QStringList{"修改类别"}
        << "bird" << QStringList{"dog", "horse", "cat", "bird"} << "";
}

void TestWindowEdits::numberKeys()
{
    QFETCH(QStringList, classes);
    QFETCH(QString, script);
    QFETCH(QString, after);
    QFETCH(QStringList, texts);
    QFETCH(QString, lastLabel);
    QFETCH(QStringList, rows);
    QFETCH(QString, toast);

    writeFirstImage(kConfirmed, kPending);
    if (!classes.isEmpty())
        QVERIFY(writeBytes(m_dir + QStringLiteral("/labels/classes.txt"), classes.join(QLatin1Char('\n')).toUtf8()));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    // The rows as shown are what the keys count.
    const QStringList rowsBefore = categoryOrder(classes, QStringList{"cat", "dog", "bird"});
    QCOMPARE(rowTexts(categoryList(*window)), rowsBefore);

    run(*window, script);
    QCOMPARE(describe(window->scene()->annotations()), after);
    QCOMPARE(undoTexts(window->editor()->undoStack()), texts);
    QCOMPARE(window->categories()->lastLabel(), lastLabel);
    QCOMPARE(rowTexts(categoryList(*window)), rows);
    QCOMPARE(window->categoryRows(), rows);
    if (script.startsWith(QLatin1String("key 3; draw")))
        QCOMPARE(window->toast()->text(), QStringLiteral("下一个框的类别：bird"));
    if (!toast.isEmpty())
        QCOMPARE(window->toast()->text(), toast);
    for (qsizetype i = 0; i < texts.size(); ++i)
        run(*window, QStringLiteral("key Ctrl+Z"));
    if (!texts.isEmpty())
        QCOMPARE(describe(window->scene()->annotations()), kStart);
}

// ---- a category used in saved label files is deleted only after asking ------------------------

void TestWindowEdits::categoryUsedInFilesAsksFirst_data()
{
    QTest::addColumn<QString>("answer");   // the question's button; empty: no question comes
    QTest::addColumn<QString>("category");
    QTest::addColumn<int>("files");        // other images whose label files use it

    QTest::newRow("used in two files: asked, deleted") << "删除" << "dog" << 2;
    QTest::newRow("used in two files: asked, kept") << "取消" << "dog" << 2;
    QTest::newRow("used in no other file: no question") << "" << "cat" << 0;
}

void TestWindowEdits::categoryUsedInFilesAsksFirst()
{
    QFETCH(QString, answer);
    QFETCH(QString, category);
    QFETCH(int, files);

    writeFirstImage(kConfirmed, {});
    QVERIFY(writeVoc(m_images.at(1), {QStringLiteral("dog")}));
    QVERIFY(writeVoc(m_images.at(2), {QStringLiteral("bird"), QStringLiteral("dog")}));
    const QByteArray secondFile = readBytes(vocPath(m_images.at(1)));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QListWidget *list = categoryList(*window);

    QString asked;
    if (!answer.isEmpty())
        answerMessageBox(answer, &asked);
    for (const char *zone : {"cross", "check"})
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, categoryPoint(list, category, QLatin1String(zone)));
    if (answer.isEmpty()) {
        QTRY_VERIFY(!window->categories()->labels().contains(category));
        return;
    }
    QTRY_VERIFY(!asked.isEmpty());
    QVERIFY2(asked.contains(QStringLiteral("%1 个已保存的标注文件").arg(files)), qPrintable(asked));
    QTRY_VERIFY(noPopupOrDialog());
    if (!window->isActiveWindow()) {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    const bool deleted = answer == QStringLiteral("删除");
    QCOMPARE(window->categories()->labels().contains(category), !deleted);
    QCOMPARE(describe(window->scene()->annotations()).contains(category), !deleted);
    if (!deleted)
        return;

    // Opening an image whose file uses it does not bring it back to the list; the file is as it was.
    run(*window, QStringLiteral("key PgDown"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(1));
    QCOMPARE(describe(window->scene()->annotations(), false), QStringLiteral("dog 10,10 20x30"));
    QVERIFY(!window->categories()->labels().contains(category));
    QVERIFY(!WindowSettings::load().labels.contains(category));
    QCOMPARE(readBytes(vocPath(m_images.at(1))), secondFile);
    // Not after a restart either.
    window.reset();
    auto again = openWindow(m_images.at(2));
    QVERIFY(again);
    QVERIFY(again->categories()->labels().contains(QStringLiteral("bird")));
    QVERIFY(!again->categories()->labels().contains(category));
}


BRINDLE_WINDOW_TEST_MAIN(TestWindowEdits)
#include "tst_windowedits.moc"
