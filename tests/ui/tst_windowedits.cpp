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

class TestWindowEdits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void drawnBoxIsNamed_data();
    void drawnBoxIsNamed();
    void drawWithoutAsking_data();
    void drawWithoutAsking();
    void everyEditUndoesAndRedoes_data();
    void everyEditUndoesAndRedoes();
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
    void copyPreviousShapes_data();
    void copyPreviousShapes();
    void pendingKeys_data();
    void pendingKeys();
    void reviewGoesOnToTheNextImage();
    void imageStaysStill_data();
    void imageStaysStill();
    void pageKeysStepWhateverIsSelected_data();
    void pageKeysStepWhateverIsSelected();
    void categoryUsedInFilesAsksFirst_data();
    void categoryUsedInFilesAsksFirst();
    void hideAndShow_data();
    void hideAndShow();
    void displayAdjustment_data();
    void displayAdjustment();

private:
    // fit: the image stays fitted into the window instead of shown at 100%.
    std::unique_ptr<MainWindow> openWindow(const QString &imagePath, bool fit = false);
    void writeFirstImage(const QList<Annotation> &confirmed, const QList<Annotation> &pending);
    void run(MainWindow &window, const QString &script);
    void step(MainWindow &window, const QString &step);
    QPoint at(MainWindow &window, const QPointF &scenePos);
    QPointF centreOf(MainWindow &window, uint id);
    void drag(MainWindow &window, const QPointF &from, const QPointF &to);
    void waitUntilAnswered(MainWindow &window, const std::shared_ptr<Answered> &answer);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};

void TestWindowEdits::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestWindowEdits::init()
{
    setLanguage(QStringLiteral("zh_CN"));
    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
    WindowSettings::saveLabels({QStringLiteral("cat"), QStringLiteral("dog"), QStringLiteral("bird")});
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images.clear();
    for (int i = 1; i <= 3; ++i) {
        const QString path = QStringLiteral("%1/img%2.png").arg(m_dir).arg(i);
        QVERIFY(makeImage(path, 1200, 900));
        m_images.append(path);
    }
}

void TestWindowEdits::cleanup()
{
    m_tmp.reset();
}

void TestWindowEdits::writeFirstImage(const QList<Annotation> &confirmed, const QList<Annotation> &pending)
{
    if (!confirmed.isEmpty())
        QVERIFY(saveAnnotations(m_images.at(0), confirmed, false, {}));
    if (!pending.isEmpty())
        QVERIFY(writePendingFile(m_dir, {{m_images.at(0), pending}}));
}

// The window opened on an image, shown at 100% (Ctrl+1) so that image pixels are screen pixels,
// and the canvas clicked once on an empty spot, as a user starts.
std::unique_ptr<MainWindow> TestWindowEdits::openWindow(const QString &imagePath, bool fit)
{
    auto window = std::make_unique<MainWindow>(imagePath);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    if (!QTest::qWaitFor([&] { return window->currentImagePath() == imagePath; }, 5000))
        return nullptr;
    if (!fit) {
        QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
        if (!QTest::qWaitFor([&] { return window->view()->zoomFactor() == 1.0; }, 2000))
            return nullptr;
    }
    QTest::mouseClick(window->view()->viewport(), Qt::LeftButton, {}, at(*window, QPointF(800, 650)));
    if (QApplication::focusWidget() != window->view())
        return nullptr;
    return window;
}

QPoint TestWindowEdits::at(MainWindow &window, const QPointF &scenePos)
{
    const QPoint p = window.view()->mapFromScene(scenePos);
    [&] { QVERIFY2(window.view()->viewport()->rect().contains(p), "the point is not on screen"); }();
    return p;
}

QPointF TestWindowEdits::centreOf(MainWindow &window, uint id)
{
    const QList<Annotation> shapes = window.scene()->annotations();
    for (const Annotation &a : shapes) {
        if (a.id == id)
            return a.rect.center();
    }
    [&] { QFAIL(qPrintable(QStringLiteral("no shape %1").arg(id))); }();
    return QPointF();
}

// Press, four moves with the button held, release: a real drag on the canvas.
void TestWindowEdits::drag(MainWindow &window, const QPointF &from, const QPointF &to)
{
    QWidget *viewport = window.view()->viewport();
    const QPoint a = at(window, from);
    const QPoint b = at(window, to);
    QTest::mousePress(viewport, Qt::LeftButton, {}, a);
    for (int i = 1; i <= 4; ++i)
        QTest::mouseMove(viewport, a + (b - a) * i / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, b);
}

void TestWindowEdits::waitUntilAnswered(MainWindow &window, const std::shared_ptr<Answered> &answer)
{
    QTRY_VERIFY2(answer->done, "the dialog or menu never came up");
    QTRY_VERIFY(noPopupOrDialog());
    // A window manager hands activation back to the main window; the offscreen platform does not.
    if (!window.isActiveWindow()) {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
}

void TestWindowEdits::run(MainWindow &window, const QString &script)
{
    const QStringList steps = script.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &s : steps) {
        step(window, s.trimmed());
        if (QTest::currentTestFailed()) {
            qWarning("at step \"%s\"", qPrintable(s.trimmed()));
            return;
        }
    }
}

// One user action of a script:
//   click N / ctrl-click N / dblclick N       left button on the centre of shape N
//   point x y                                  left button on an image point
//   drag N dx dy                               drag shape N by (dx, dy) image pixels
//   resize N dx dy                             drag the bottom-right handle of selected shape N
//   band x1 y1 x2 y2                           drag on the canvas between two image points
//   draw x1 y1 x2 y2 [name]                    drag a box and answer the label dialog with the
//                                              name, or with an emptied field when none is given
//   draw-tick x1 y1 x2 y2 name                 the same, clicking "don't ask" in the dialog first
//   draw-direct x1 y1 x2 y2                    drag a box; no label dialog may come up
//   close-direct                               Return closes the polygon drawn; no dialog either
//   dont-ask                                   the Annotate menu's "don't ask for the category"
//   key SEQUENCE                               a key press on the widget that has the focus
//   menu N relabel NAME|confirm|difficult|delete   the shape's context menu
//   category-click NAME / category-dblclick NAME   the category panel's row
//   eye NAME                                   the eye of the category panel's row
//   row N                                      the object panel's row of shape N
//   language CODE                              the interface language chosen in its menu
//   adjust-popup B C | adjust-popup reset      the status bar's brightness readout clicked, its
//                                              sliders moved by B and C percent with PageUp and
//                                              PageDown (or its reset button), the popup closed
void TestWindowEdits::step(MainWindow &window, const QString &step)
{
    const QStringList w = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY(!w.isEmpty());
    const QString &verb = w.first();
    QWidget *viewport = window.view()->viewport();
    auto number = [&](int i) { return w.value(i).toDouble(); };

    if (verb == QLatin1String("click") || verb == QLatin1String("ctrl-click")) {
        const Qt::KeyboardModifiers mods = verb == QLatin1String("click") ? Qt::NoModifier : Qt::ControlModifier;
        QTest::mouseClick(viewport, Qt::LeftButton, mods, at(window, centreOf(window, w.value(1).toUInt())));
    } else if (verb == QLatin1String("point")) {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at(window, QPointF(number(1), number(2))));
    } else if (verb == QLatin1String("dblclick")) {
        const QPoint p = at(window, centreOf(window, w.value(1).toUInt()));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, p);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, p);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, p);
        QCoreApplication::processEvents();   // the confirmation waits for the release's turn
    } else if (verb == QLatin1String("drag")) {
        const QPointF c = centreOf(window, w.value(1).toUInt());
        drag(window, c, c + QPointF(number(2), number(3)));
    } else if (verb == QLatin1String("resize")) {
        const uint id = w.value(1).toUInt();
        QRectF r;
        for (const Annotation &a : window.scene()->annotations()) {
            if (a.id == id)
                r = a.rect;
        }
        drag(window, r.bottomRight(), r.bottomRight() + QPointF(number(2), number(3)));
    } else if (verb == QLatin1String("band")) {
        drag(window, QPointF(number(1), number(2)), QPointF(number(3), number(4)));
    } else if (verb == QLatin1String("draw")) {
        const QString name = w.value(5);
        const auto answer = answerLabelDialog(name, LabelFinish::Return, name.isEmpty());
        drag(window, QPointF(number(1), number(2)), QPointF(number(3), number(4)));
        waitUntilAnswered(window, answer);
    } else if (verb == QLatin1String("draw-tick")) {
        auto boxWasChecked = std::make_shared<int>(-1);
        whenShown([boxWasChecked, name = w.value(5)] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            auto *box = dialog ? dialog->findChild<QCheckBox *>(QStringLiteral("dontAsk")) : nullptr;
            if (!box || !box->isVisible())
                return false;
            *boxWasChecked = box->isChecked() ? 1 : 0;
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
            QLineEdit *edit = dialog->findChild<QComboBox *>()->lineEdit();
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
            return true;
        });
        const bool dontAskBefore = window.dontAskCategory();
        drag(window, QPointF(number(1), number(2)), QPointF(number(3), number(4)));
        QTRY_VERIFY2(*boxWasChecked >= 0, "no label dialog with the don't-ask box came up");
        QCOMPARE(*boxWasChecked, dontAskBefore ? 1 : 0);
        waitUntilAnswered(window, std::make_shared<Answered>(Answered{true, {}, {}, {}}));
    } else if (verb == QLatin1String("draw-direct") || verb == QLatin1String("close-direct")) {
        bool asked = false;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, &watch, [&asked] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                asked = true;
                dialog->reject();
            }
        });
        watch.start();
        if (verb == QLatin1String("draw-direct"))
            drag(window, QPointF(number(1), number(2)), QPointF(number(3), number(4)));
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();   // the drawn shape is taken on the loop's next turn
        watch.stop();
        QVERIFY2(!asked, "the label dialog came up");
    } else if (verb == QLatin1String("dont-ask")) {
        window.actions().dontAskCategory->trigger();
    } else if (verb == QLatin1String("key")) {
        const QKeyCombination key = QKeySequence::fromString(w.value(1))[0];
        QWidget *target = QApplication::focusWidget();
        if (!target || target->window() != &window)
            target = &window;
        QTest::keyClick(target, key.key(), key.keyboardModifiers());
    } else if (verb == QLatin1String("menu")) {
        static const QHash<QString, QString> entries = {
            {QStringLiteral("relabel"), QStringLiteral("改类别…")},
            {QStringLiteral("confirm"), QStringLiteral("确认 ⚡")},
            {QStringLiteral("difficult"), QStringLiteral("设为困难样本")},
            {QStringLiteral("delete"), QStringLiteral("删除")},
        };
        const QString entry = entries.value(w.value(2));
        QVERIFY(!entry.isEmpty());
        const auto menu = answerPopupMenu(entry);
        const auto label = w.value(2) == QLatin1String("relabel") ? answerLabelDialog(w.value(3)) : nullptr;
        // A right press selects the shape; the platform then sends the context-menu event.
        const QPoint p = at(window, centreOf(window, w.value(1).toUInt()));
        QTest::mouseClick(viewport, Qt::RightButton, {}, p);
        QContextMenuEvent event(QContextMenuEvent::Mouse, p, viewport->mapToGlobal(p));
        QApplication::sendEvent(viewport, &event);
        waitUntilAnswered(window, menu);
        QVERIFY2(menu->entries.contains(entry), qPrintable(menu->entries.join(QLatin1Char('|'))));
        if (label) {
            waitUntilAnswered(window, label);
            QCOMPARE(label->title, QStringLiteral("修改类别"));
        }
    } else if (verb == QLatin1String("category-click") || verb == QLatin1String("category-dblclick")) {
        QListWidget *list = categoryList(window);
        const QPoint p = categoryPoint(list, w.value(1), QStringLiteral("body"));
        QVERIFY2(list->viewport()->rect().contains(p), "no such category row on screen");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
        if (verb == QLatin1String("category-dblclick")) {
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, p);
        }
    } else if (verb == QLatin1String("eye")) {
        QListWidget *list = categoryList(window);
        const QPoint p = categoryPoint(list, w.value(1), QStringLiteral("check"));
        QVERIFY2(list->viewport()->rect().contains(p), "no such category row on screen");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
    } else if (verb == QLatin1String("row")) {
        QListWidget *list = objectList(window);
        QListWidgetItem *row = nullptr;
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->data(Qt::UserRole + 1).toUInt() == w.value(1).toUInt())
                row = list->item(i);
        }
        QVERIFY2(row, "no such object row");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(row).center());
    } else if (verb == QLatin1String("language")) {
        const auto entries = window.actions().languageGroup->actions();
        QAction *entry = nullptr;
        for (QAction *action : entries) {
            if (action->data().toString() == w.value(1))
                entry = action;
        }
        QVERIFY(entry);
        entry->trigger();
        QCoreApplication::processEvents();   // the rebuilt toolbar's layout
    } else if (verb == QLatin1String("adjust-popup")) {
        QTest::mouseClick(window.statusPanel()->adjustmentButton(), Qt::LeftButton);
        AdjustmentPopup *popup = window.adjustmentPopup();
        QTRY_VERIFY(popup->isVisible());
        if (w.value(1) == QLatin1String("reset")) {
            QTest::mouseClick(popup->resetButton(), Qt::LeftButton);
        } else {
            const QList<QSlider *> sliders{popup->brightnessSlider(), popup->contrastSlider()};
            for (int i = 0; i < 2; ++i) {
                const int by = w.value(i + 1).toInt();
                for (int k = 0; k < std::abs(by) / sliders.at(i)->pageStep(); ++k)
                    QTest::keyClick(sliders.at(i), by > 0 ? Qt::Key_PageUp : Qt::Key_PageDown);
            }
        }
        QTest::keyClick(popup, Qt::Key_Escape);
        QTRY_VERIFY(!popup->isVisible());
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }
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
    row("reject the selected pending shape with Esc", "click 4; key Esc", "拒绝标注",
        QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60"));
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
        const auto answer = answerLabelDialog(QStringLiteral("newcomer"));
        auto *add = window->objectPanel()->findChild<QToolButton *>();
        QVERIFY(add);
        QTest::mouseClick(add, Qt::LeftButton);
        waitUntilAnswered(*window, answer);
        QCOMPARE(answer->title, QStringLiteral("新增类别"));
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

    const QStringList history = {"cat", "dog", "bird"};
    QTest::newRow("nothing selected: the key offers the category for the next box")
        << QStringList{} << "key 3; draw 700 550 780 620" << kStart + "; 5 bird 700,550 80x70"
        << QStringList{"添加标注"} << "bird" << history;
    QString s = kStart;
    QTest::newRow("one selected: the key relabels it")
        << QStringList{} << "click 1; key 2" << s.replace(QStringLiteral("1 cat"), QStringLiteral("1 dog"))
        << QStringList{"修改类别"} << "dog" << history;
    QTest::newRow("several selected: one step relabels all")
        << QStringList{} << "key E; band 380 280 700 380; key 3"
        << "1 bird 400,300 80x60; 2 bird 600,300 80x60; 3 cat 400,450 80x60; 4 cat 600,450 80x60 pending"
        << QStringList{"修改类别"} << "bird" << history;
    QTest::newRow("several selected, pending among them: confirmed with the category")
        << QStringList{} << "click 1; ctrl-click 4; key 2"
        << "1 dog 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60; 4 dog 600,450 80x60"
        << QStringList{"修改类别"} << "dog" << history;
    QTest::newRow("the shape carries the category already")
        << QStringList{} << "click 1; key 1" << kStart << QStringList{} << "" << history;
    QTest::newRow("a key without a row does nothing")
        << QStringList{} << "click 1; key 9" << kStart << QStringList{} << "" << history;
    // Using a category never renumbers the rows.
    QTest::newRow("rows keep their numbers after use")
        << QStringList{} << "click 1; key 3; click 3; key 3"
        << "1 bird 400,300 80x60; 2 dog 600,300 80x60; 3 bird 400,450 80x60; 4 cat 600,450 80x60 pending"
        << QStringList{"修改类别", "修改类别"} << "bird" << history;
    QTest::newRow("a new category joins the rows at the end")
        << QStringList{} << "draw 700 550 780 620 fox"
        << kStart + "; 5 fox 700,550 80x70" << QStringList{"添加标注"} << "fox"
        << QStringList{"cat", "dog", "bird", "fox"};
    // The box just drawn stays selected for the arrows, but a digit then is meant for the next box.
    QTest::newRow("right after drawing: the key offers the category for the next box")
        << QStringList{} << "draw 700 550 780 620 fox; key 2; draw 700 700 780 760"
        << kStart + "; 5 fox 700,550 80x70; 6 dog 700,700 80x60" << QStringList{"添加标注", "添加标注"} << "dog"
        << QStringList{"cat", "dog", "bird", "fox"};
    QTest::newRow("the drawn box clicked again: the key relabels it")
        << QStringList{} << "draw 700 550 780 620 fox; click 5; key 2"
        << kStart + "; 5 dog 700,550 80x70" << QStringList{"添加标注", "修改类别"} << "dog"
        << QStringList{"cat", "dog", "bird", "fox"};
    QTest::newRow("the drawn box nudged: still fresh, the key is for the next box")
        << QStringList{} << "draw 700 550 780 620 fox; key Right; key 3"
        << kStart + "; 5 fox 701,550 80x70" << QStringList{"添加标注", "移动标注"} << "bird"
        << QStringList{"cat", "dog", "bird", "fox"};
    // With a class list the rows follow it, then the other categories in the order first used.
    QTest::newRow("the dataset's class list numbers the rows")
        << QStringList{"bird", "dog", "cat"} << "click 1; key 1"
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")) << QStringList{"修改类别"}
        << "bird" << QStringList{"bird", "dog", "cat"};
    QTest::newRow("categories beyond the class list follow it")
        << QStringList{"dog", "horse"} << "click 1; key 4"
        << QString(kStart).replace(QStringLiteral("1 cat"), QStringLiteral("1 bird")) << QStringList{"修改类别"}
        << "bird" << QStringList{"dog", "horse", "cat", "bird"};
}

void TestWindowEdits::numberKeys()
{
    QFETCH(QStringList, classes);
    QFETCH(QString, script);
    QFETCH(QString, after);
    QFETCH(QStringList, texts);
    QFETCH(QString, lastLabel);
    QFETCH(QStringList, rows);

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
    for (qsizetype i = 0; i < texts.size(); ++i)
        run(*window, QStringLiteral("key Ctrl+Z"));
    if (!texts.isEmpty())
        QCOMPARE(describe(window->scene()->annotations()), kStart);
}

// ---- copying the previous image's shapes -----------------------------------------------------

void TestWindowEdits::copyPreviousShapes_data()
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

void TestWindowEdits::copyPreviousShapes()
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
    QCOMPARE(window->toast()->text(), QStringLiteral("已复制 %1 个标注").arg(copied.count(QLatin1Char(';')) + 1));
    for (const Annotation &a : window->scene()->annotations())
        QCOMPARE(a.confidence, -1.0);

    // The second copy finds everything there already.
    run(*window, QStringLiteral("key Ctrl+Shift+V"));
    QCOMPARE(describe(window->scene()->annotations(), false), expected);
    QCOMPARE(stack->count(), 1);
    QCOMPARE(window->toast()->text(), QStringLiteral("上一张的标注都已在本图中"));

    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(describe(window->scene()->annotations(), false), before);
    run(*window, QStringLiteral("key Ctrl+Y"));
    QCOMPARE(describe(window->scene()->annotations(), false), expected);

    // Switching saves the copies; the new image starts with an empty history.
    run(*window, QStringLiteral("key Right"));
    QTRY_COMPARE(window->currentImagePath(), m_images.at(2));
    const QList<Annotation> saved = loadAnnotations(m_images.at(1));
    QCOMPARE(describe(saved, false), expected);
    QVERIFY(std::all_of(saved.cbegin(), saved.cend(), [](const Annotation &a) { return a.confidence < 0; }));
    QCOMPARE(stack->count(), 0);
    run(*window, QStringLiteral("key Ctrl+Z"));
    QCOMPARE(window->scene()->annotations().size(), 0);
}

// ---- Enter, Esc, A and D on pending shapes ----------------------------------------------------

void TestWindowEdits::pendingKeys_data()
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

void TestWindowEdits::pendingKeys()
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

void TestWindowEdits::reviewGoesOnToTheNextImage()
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

void TestWindowEdits::imageStaysStill_data()
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

void TestWindowEdits::imageStaysStill()
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

void TestWindowEdits::pageKeysStepWhateverIsSelected_data()
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

void TestWindowEdits::pageKeysStepWhateverIsSelected()
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

// ---- brightness and contrast change the display, never the file ---------------------------------

void TestWindowEdits::displayAdjustment_data()
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

void TestWindowEdits::displayAdjustment()
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

BRINDLE_TEST_MAIN(TestWindowEdits)
#include "tst_windowedits.moc"

// ---- hiding shapes from view -----------------------------------------------------------------

void TestWindowEdits::hideAndShow_data()
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

void TestWindowEdits::hideAndShow()
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
