#include "editscript.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/pendingfile.h"
#include "ui/adjustmentpopup.h"
#include "ui/mainstatusbar.h"
#include "ui/windowsettings.h"

#include "editfixture.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QToolButton>

using namespace EditFixture;
using namespace WindowFixture;

void EditScript::prepareDataset()
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

void EditScript::writeFirstImage(const QList<Annotation> &confirmed, const QList<Annotation> &pending)
{
    if (!confirmed.isEmpty())
        QVERIFY(saveAnnotations(m_images.at(0), confirmed, false, {}));
    if (!pending.isEmpty())
        QVERIFY(writePendingFile(m_dir, {{m_images.at(0), pending}}));
}

// The window opened on an image, shown at 100% (Ctrl+1) so that image pixels are screen pixels,
// and the canvas clicked once on an empty spot, as a user starts.
std::unique_ptr<MainWindow> EditScript::openWindow(const QString &imagePath, bool fit)
{
    auto window = std::make_unique<MainWindow>(imagePath);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    if (!QTest::qWaitFor([&] { return window->currentImagePath() == imagePath && window->isLaunched(); }, 5000))
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

QPoint EditScript::at(MainWindow &window, const QPointF &scenePos)
{
    const QPoint p = window.view()->mapFromScene(scenePos);
    [&] { QVERIFY2(window.view()->viewport()->rect().contains(p), "the point is not on screen"); }();
    return p;
}

QPointF EditScript::centreOf(MainWindow &window, uint id)
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
void EditScript::drag(MainWindow &window, const QPointF &from, const QPointF &to)
{
    QWidget *viewport = window.view()->viewport();
    const QPoint a = at(window, from);
    const QPoint b = at(window, to);
    QTest::mousePress(viewport, Qt::LeftButton, {}, a);
    for (int i = 1; i <= 4; ++i)
        QTest::mouseMove(viewport, a + (b - a) * i / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, b);
}

void EditScript::waitUntilAnswered(MainWindow &window, const std::shared_ptr<Answered> &answer)
{
    QTRY_VERIFY2(answer->done, "the dialog or menu never came up");
    QTRY_VERIFY(noPopupOrDialog());
    // A window manager hands activation back to the main window; the offscreen platform does not.
    if (!window.isActiveWindow()) {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
}

void EditScript::run(MainWindow &window, const QString &script)
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
//   status-category NAME [tick]                the status bar's category clicked, its chooser
//                                              answered with NAME ("don't ask" clicked first)
//   key SEQUENCE                               a key press on the widget that has the focus
//   menu N relabel NAME|confirm|difficult|delete   the shape's context menu
//   category-click NAME / category-dblclick NAME   the category panel's row
//   eye NAME                                   the eye of the category panel's row
//   row N                                      the object panel's row of shape N
//   language CODE                              the interface language chosen in its menu
//   adjust-popup B C | adjust-popup reset      the status bar's brightness readout clicked, its
//                                              sliders moved by B and C percent with PageUp and
//                                              PageDown (or its reset button), the popup closed
void EditScript::step(MainWindow &window, const QString &step)
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
        waitUntilAnswered(window, std::make_shared<Answered>(Answered{true, {}, {}, {}, {}}));
    } else if (verb == QLatin1String("draw-direct") || verb == QLatin1String("close-direct")) {
        bool asked = false;
        QTimer watch;
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, &watch, [&asked] {
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
    } else if (verb == QLatin1String("status-category")) {
        QLabel *category = window.statusPanel()->categoryLabel();
        QVERIFY2(category->isVisible(), "no category in the status bar");
        // It promises a click: the hand and a tooltip that says what the click does.
        QCOMPARE(category->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(category->toolTip().contains(QStringLiteral("点击")));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(category, &enter);
        QVERIFY(category->font().underline());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(category, &leave);
        QVERIFY(!category->font().underline());
        auto seen = std::make_shared<Answered>();
        whenShown([seen, name = w.value(1), tick = w.value(2) == QLatin1String("tick")] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            auto *combo = dialog ? dialog->findChild<QComboBox *>() : nullptr;
            if (!combo || !combo->lineEdit())
                return false;
            seen->title = dialog->windowTitle();
            seen->offered = combo->currentText();
            auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("dontAsk"));
            if (tick && box && box->isVisible())
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
            QLineEdit *edit = combo->lineEdit();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
            seen->done = true;
            return true;
        });
        const QString before = window.categories()->lastLabel();
        QTest::mouseClick(category, Qt::LeftButton, {}, category->rect().center());
        waitUntilAnswered(window, seen);
        QCOMPARE(seen->title, QStringLiteral("当前类别"));
        QCOMPARE(seen->offered, before);
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
            {QStringLiteral("rotate"), QStringLiteral("转为旋转框")},
            {QStringLiteral("upright"), QStringLiteral("转为正框")},
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
