#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/mainstatusbar.h"
#include "ui/progressoverlay.h"
#include "ui/shortcutdelegate.h"
#include "ui/shortcutdialog.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include "../storage/layoutfixtures.h"
#include "../storage/storagefixtures.h"
#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"
#include "mainwindowfixture.h"
#include "windowfixture.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QToolBar>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QLayout>
#include <QStatusBar>
#include <QBuffer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>

using namespace WindowFixture;

namespace {

// Every action reachable from the menu bar: text, shortcuts, checked state, in menu order.
QStringList describeMenus(QMenuBar *bar)
{
    QStringList rows;
    std::function<void(QMenu *, int)> walk = [&](QMenu *menu, int depth) {
        const auto actions = menu->actions();
        for (QAction *action : actions) {
            if (action->isSeparator()) {
                rows << QString(depth, QLatin1Char(' ')) + QStringLiteral("—");
                continue;
            }
            QStringList keys;
            for (const QKeySequence &k : action->shortcuts())
                keys << k.toString(QKeySequence::PortableText);
            // The checked language is the one switched to; everything else must survive.
            const bool language = action->actionGroup() && action->data().typeId() == QMetaType::QString;
            rows << QStringLiteral("%1%2|%3|%4").arg(QString(depth, QLatin1Char(' ')), keys.join(QLatin1Char(',')))
                        .arg(action->isCheckable() && !language ? (action->isChecked() ? 1 : 0) : -1)
                        .arg(action->menu() ? action->menu()->actions().size() : -1);
            if (action->menu() && action->menu()->actions().size() < 20)
                walk(action->menu(), depth + 1);
        }
    };
    const auto menus = bar->actions();
    for (QAction *action : menus) {
        rows << QStringLiteral("[menu]");
        if (action->menu())
            walk(action->menu(), 1);
    }
    return rows;
}

// The keys (portable text) a chip of the F1 list stands for. A chip is one whole key ("Ctrl+Shift+↑");
// "1–9" stands for nine. Words (gestures, key groups) are Chinese and stand for none; an ASCII
// chip that is no key spelling is reported in *unreadable.
QStringList keysOfChip(const QString &chip, QStringList *unreadable)
{
    static const QRegularExpression range(QStringLiteral("^(\\d)\\s*[–-]\\s*(\\d)$"));
    const QRegularExpressionMatch digits = range.match(chip);
    if (digits.hasMatch()) {
        QStringList keys;
        for (int d = digits.captured(1).toInt(); d <= digits.captured(2).toInt(); ++d)
            keys << QString::number(d);
        return keys;
    }
    // Several arrows after one modifier stand for as many keys: "Ctrl+Shift+↑↓←→".
    static const QRegularExpression arrows(QStringLiteral("^(.*\\+)([\\x{2190}-\\x{2193}]{2,})$"));
    const QRegularExpressionMatch group = arrows.match(chip);
    if (group.hasMatch()) {
        QStringList keys;
        for (const QChar arrow : group.captured(2))
            keys += keysOfChip(group.captured(1) + arrow, unreadable);
        return keys;
    }
    QString spelled = chip;
    spelled.replace(QChar(0x2190), QStringLiteral("Left")).replace(QChar(0x2192), QStringLiteral("Right"));
    spelled.replace(QChar(0x2191), QStringLiteral("Up")).replace(QChar(0x2193), QStringLiteral("Down"));
    spelled.replace(QStringLiteral("PgDn"), QStringLiteral("PgDown"));
    for (const QChar c : std::as_const(spelled)) {
        if (c.unicode() > 0x7F)
            return {};
    }
    const QKeySequence key = QKeySequence::fromString(spelled, QKeySequence::PortableText);
    const QString text = key.toString(QKeySequence::PortableText);
    if (key.count() != 1 || key[0].key() == Qt::Key_unknown || text.compare(spelled, Qt::CaseInsensitive) != 0) {
        unreadable->append(chip);
        return {};
    }
    // The list writes Enter for both Enter keys; the main one is Return.
    if (key[0].key() == Qt::Key_Enter)
        return {QString(text).replace(QStringLiteral("Enter"), QStringLiteral("Return")), text};
    return {text};
}

// Where a shortcut works, as far as a clash is concerned.
struct Binding
{
    QString key;      // portable text
    QString owner;    // what the user would call it, for the failure message
    QObject *object;  // the action or QShortcut
    Qt::ShortcutContext context;
    QWidget *widget;  // the widget of a widget context; the top-level window of a window context
};

QWidget *homeWidget(QObject *object)
{
    for (QObject *o = object->parent(); o; o = o->parent()) {
        if (auto *widget = qobject_cast<QWidget *>(o))
            return widget;
    }
    return nullptr;
}

QString ownerOf(QAction *action)
{
    QString name = action->text().remove(QLatin1Char('&'));
    QStringList places;
    const QObjectList on = action->associatedObjects();
    for (QObject *o : on) {
        if (auto *menu = qobject_cast<QMenu *>(o))
            places << menu->title().remove(QLatin1Char('&'));
        else if (qobject_cast<QToolBar *>(o))
            places << QStringLiteral("toolbar");
        else
            places << QString::fromLatin1(o->metaObject()->className());
    }
    if (name.isEmpty())
        name = QStringLiteral("(action without text)");
    return QStringLiteral("%1 [%2]").arg(name, places.join(QStringLiteral(", ")));
}

// Every key bound by the window's actions and QShortcuts. An action that is on no widget is bound
// nowhere (unless application-wide).
QList<Binding> windowBindings(QWidget *window)
{
    QList<Binding> bindings;
    auto add = [&](const QList<QKeySequence> &keys, const QString &owner, QObject *object,
                   Qt::ShortcutContext context, QWidget *widget) {
        QStringList seen;
        for (const QKeySequence &key : keys) {
            const QString text = key.toString(QKeySequence::PortableText);
            if (text.isEmpty() || seen.contains(text))
                continue;
            seen << text;
            bindings.append({text, owner, object, context, widget});
        }
    };
    const QList<QAction *> actions = window->findChildren<QAction *>();
    for (QAction *action : actions) {
        const QObjectList on = action->associatedObjects();
        if (on.isEmpty() && action->shortcutContext() != Qt::ApplicationShortcut)
            continue;
        QWidget *widget = nullptr;
        if (action->shortcutContext() == Qt::WidgetShortcut || action->shortcutContext() == Qt::WidgetWithChildrenShortcut) {
            for (QObject *o : on) {
                if ((widget = qobject_cast<QWidget *>(o)))
                    break;
            }
        } else if (QWidget *home = homeWidget(action)) {
            widget = home->window();
        }
        add(action->shortcuts(), ownerOf(action), action, action->shortcutContext(), widget);
    }
    const QList<QShortcut *> shortcuts = window->findChildren<QShortcut *>();
    for (QShortcut *shortcut : shortcuts) {
        QWidget *parent = qobject_cast<QWidget *>(shortcut->parent());
        const bool windowWide = shortcut->context() == Qt::WindowShortcut || shortcut->context() == Qt::ApplicationShortcut;
        const QString owner = QStringLiteral("QShortcut %1 on %2")
                                  .arg(shortcut->objectName(), parent ? QString::fromLatin1(parent->metaObject()->className())
                                                                      : QStringLiteral("?"));
        add(shortcut->keys(), owner, shortcut, shortcut->context(),
            parent ? (windowWide ? parent->window() : parent) : nullptr);
    }
    return bindings;
}

// Two bindings of one key clash when both can be active at once: Qt then calls the key ambiguous
// and runs neither.
bool canClash(const Binding &a, const Binding &b)
{
    const auto windowWide = [](const Binding &x) {
        return x.context == Qt::WindowShortcut || x.context == Qt::ApplicationShortcut;
    };
    if (a.context == Qt::ApplicationShortcut || b.context == Qt::ApplicationShortcut || !a.widget || !b.widget)
        return true;
    if (windowWide(a) && windowWide(b))
        return a.widget == b.widget;
    if (windowWide(a) || windowWide(b)) {
        const Binding &w = windowWide(a) ? a : b;
        const Binding &x = windowWide(a) ? b : a;
        return x.widget->window() == w.widget;
    }
    const auto covers = [](const Binding &outer, const Binding &inner) {
        return outer.context == Qt::WidgetWithChildrenShortcut && outer.widget->isAncestorOf(inner.widget);
    };
    return a.widget == b.widget || covers(a, b) || covers(b, a);
}

} // namespace

// The window's keys, menus and F1 list, its languages, its texts and the layout it remembers.
class TestWindowKeys : public QObject, private MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void recentDirectories();
    void settingsQuirks_data();
    void settingsQuirks();
    void languageSwitchKeepsActions();
    void shortcutListNamesBoundKeys();
    void everyShortcutOnceAndListed_data();
    void everyShortcutOnceAndListed();
    void textsFitTheCanvas_data();
    void textsFitTheCanvas();
    void fileListWidthRemembered();
};

void TestWindowKeys::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestWindowKeys::init()
{
    prepareDataset();
}

void TestWindowKeys::cleanup()
{
    m_tmp.reset();
}

void TestWindowKeys::recentDirectories()
{
    auto window = openWindow();
    QVERIFY(window);
    QStringList dirs;
    for (int i = 0; i < 11; ++i) {
        const QString dir = m_tmp->path() + QStringLiteral("/d%1").arg(i);
        QVERIFY(QDir().mkpath(dir));
        dirs.prepend(dir);
        window->openDirectory(dir);
    }
    QStringList recent = WindowSettings::recentDirectories();
    QCOMPARE(recent.size(), 10);
    QCOMPARE(recent, dirs.mid(0, 10));
    // Re-opening a listed directory moves it to the top without a duplicate.
    window->openDirectory(dirs.at(5));
    recent = WindowSettings::recentDirectories();
    QCOMPARE(recent.size(), 10);
    QCOMPARE(recent.first(), dirs.at(5));
    QCOMPARE(recent.count(dirs.at(5)), 1);
    QCOMPARE(window->actions().recentMenu->actions().size(), 10);
    QCOMPARE(WindowSettings::lastDirectory(), dirs.at(5));
}

void TestWindowKeys::settingsQuirks_data()
{
    QTest::addColumn<QVariant>("concurrency");
    QTest::addColumn<QVariant>("timeout");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("expectedConcurrency");
    QTest::addColumn<int>("expectedTimeout");
    QTest::addColumn<bool>("expectedYolo");

    QTest::newRow("stored 2 reads as 1, 180 as 300") << QVariant(2) << QVariant(180) << "yolo" << 1 << 300 << true;
    QTest::newRow("other values kept") << QVariant(3) << QVariant(120) << "voc" << 3 << 120 << false;
    QTest::newRow("upper-case YOLO is VOC") << QVariant(0) << QVariant() << "YOLO" << 1 << 300 << false;
    QTest::newRow("defaults") << QVariant() << QVariant() << "" << 1 << 300 << false;
}

void TestWindowKeys::settingsQuirks()
{
    QFETCH(QVariant, concurrency);
    QFETCH(QVariant, timeout);
    QFETCH(QString, format);
    QFETCH(int, expectedConcurrency);
    QFETCH(int, expectedTimeout);
    QFETCH(bool, expectedYolo);
    {
        QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
        if (concurrency.isValid())
            s.setValue(QStringLiteral("model/concurrency"), concurrency);
        if (timeout.isValid())
            s.setValue(QStringLiteral("model/timeout"), timeout);
        if (!format.isEmpty())
            s.setValue(QStringLiteral("format"), format);
    }
    auto window = openWindow();
    QVERIFY(window);
    QCOMPARE(window->serverConfig().concurrency, expectedConcurrency);
    QCOMPARE(window->serverConfig().timeout, expectedTimeout);
    QCOMPARE(window->session()->useYolo(), expectedYolo);
    QCOMPARE(window->actions().formatYolo->isChecked(), expectedYolo);
    QVERIFY(window->close());
    QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    QCOMPARE(s.value(QStringLiteral("model/concurrency")).toInt(), expectedConcurrency);
    QCOMPARE(s.value(QStringLiteral("model/timeout")).toInt(), expectedTimeout);
    QCOMPARE(s.value(QStringLiteral("format")).toString(), expectedYolo ? QStringLiteral("yolo") : QStringLiteral("voc"));
}


void TestWindowKeys::languageSwitchKeepsActions()
{
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    // The canvas hint says what Shift does in the mode.
    const auto *hint = window->findChild<QLabel *>(QStringLiteral("canvasHint"));
    QVERIFY(hint->text().contains(QStringLiteral(" · Shift+拖框 在已有标注上新建 · ")));
    window->actions().polyMode->trigger();
    QVERIFY(hint->text().contains(QStringLiteral(" · Shift+点击 在已有标注上加点 · ")));
    window->actions().formatYolo->trigger();
    window->actions().toggleObjectPanel->trigger();
    window->actions().hideShapes->trigger();
    window->actions().dontAskCategory->trigger();
    const QStringList before = describeMenus(window->menuBar());
    const QString openText = window->actions().open->text();
    window->switchLanguage(QStringLiteral("en"));
    QCOMPARE(describeMenus(window->menuBar()), before);
    QVERIFY(window->actions().polyMode->isChecked());
    QVERIFY(!window->actions().toggleObjectPanel->isChecked());
    QVERIFY(window->actions().hideShapes->isChecked());
    QVERIFY(window->scene()->allHidden());
    QVERIFY(window->actions().dontAskCategory->isChecked());
    QVERIFY(window->dontAskCategory());
    QVERIFY(window->actions().open->text() != openText);
    QCOMPARE(window->actions().open->text(), translateText("目录"));
    QCOMPARE(window->scene()->mode(), int(AnnotationScene::PolygonMode));
    QVERIFY(hint->text().contains(QStringLiteral(" · Shift+click places a point over shapes · ")));
    QCOMPARE(window->actions().toolbar->actions().size(), 16);
    window->switchLanguage(QStringLiteral("zh_CN"));
    QCOMPARE(describeMenus(window->menuBar()), before);
}


// Every key the F1 list names is bound in the window, Ctrl+Y for redo included.
void TestWindowKeys::shortcutListNamesBoundKeys()
{
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QSet<QString> bound;
    const QList<QAction *> actions = window->findChildren<QAction *>();
    for (const QAction *action : actions) {
        for (const QKeySequence &key : action->shortcuts())
            bound.insert(key.toString(QKeySequence::PortableText));
    }
    QStringList missing;
    QStringList unreadable;
    for (const ShortcutRow &row : ShortcutDialog::rows()) {
        for (const QString &chip : ShortcutDelegate::splitKeys(row.keys)) {
            const QStringList keys = keysOfChip(chip, &unreadable);
            for (const QString &key : keys) {
                if (!bound.contains(key))
                    missing << QStringLiteral("%1 (%2)").arg(key, row.description);
            }
        }
    }
    QVERIFY2(unreadable.isEmpty(), qPrintable(QStringLiteral("not a key: ") + unreadable.join(QLatin1String(", "))));
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1String(", "))));
    // Redo on both keys, whatever the platform binds.
    const QList<QKeySequence> redo = window->actions().redo->shortcuts();
    QVERIFY(redo.contains(QKeySequence(QStringLiteral("Ctrl+Y"))));
    QVERIFY(redo.contains(QKeySequence(QStringLiteral("Ctrl+Shift+Z"))));
}

// No key of the window is bound twice where both bindings can be active (the menus, the toolbar
// and the window itself, by their shortcut context), and every key the window binds is in the F1
// list: as a key of a row, or named in a row's text (redo's Ctrl+Shift+Z). Again after the
// language switches there and back, which rebuilds every action.
void TestWindowKeys::everyShortcutOnceAndListed_data()
{
    QTest::addColumn<bool>("switchLanguage");
    QTest::newRow("as built at start") << false;
    QTest::newRow("rebuilt by a language switch") << true;
}

void TestWindowKeys::everyShortcutOnceAndListed()
{
    QFETCH(bool, switchLanguage);
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    if (switchLanguage) {
        window->switchLanguage(QStringLiteral("en"));
        window->switchLanguage(QStringLiteral("zh_CN"));
    }

    const QList<Binding> bindings = windowBindings(window.get());
    QVERIFY(bindings.size() > 30);   // the menus' keys, the digits, Escape, the page keys
    QStringList clashes;
    for (qsizetype i = 0; i < bindings.size(); ++i) {
        for (qsizetype j = i + 1; j < bindings.size(); ++j) {
            const Binding &a = bindings.at(i);
            const Binding &b = bindings.at(j);
            if (a.key == b.key && a.object != b.object && canClash(a, b))
                clashes << QStringLiteral("%1: %2 and %3").arg(a.key, a.owner, b.owner);
        }
    }
    QVERIFY2(clashes.isEmpty(), qPrintable(QStringLiteral("keys bound twice: ") + clashes.join(QLatin1String("; "))));

    QSet<QString> listed;
    QStringList texts;
    QStringList unreadable;
    for (const ShortcutRow &row : ShortcutDialog::rows()) {
        for (const QString &chip : ShortcutDelegate::splitKeys(row.keys)) {
            const QStringList keys = keysOfChip(chip, &unreadable);
            for (const QString &key : keys)
                listed.insert(key);
        }
        texts << row.description;
    }
    QVERIFY2(unreadable.isEmpty(), qPrintable(QStringLiteral("not a key: ") + unreadable.join(QLatin1String(", "))));
    const auto named = [&texts](const QString &key) {
        const QRegularExpression word(QStringLiteral("(?<![\\w+])%1(?![\\w+])").arg(QRegularExpression::escape(key)));
        return std::any_of(texts.cbegin(), texts.cend(), [&](const QString &t) { return word.match(t).hasMatch(); });
    };
    // Deliberately not in the list: F1 opens the list itself; zooming is listed as the wheel, and
    // the View menu shows the platform's standard zoom keys beside its entries.
    const QList<QObject *> unlisted = {window->actions().shortcuts, window->actions().zoomIn, window->actions().zoomOut};
    // Nor the platform's further bindings of a standard action whose own keys are listed (redo's
    // Alt+Shift+Backspace on Linux).
    QSet<QString> platformKeys;
    for (int standard = QKeySequence::UnknownKey + 1; standard < 200; ++standard) {
        for (const QKeySequence &key : QKeySequence::keyBindings(QKeySequence::StandardKey(standard)))
            platformKeys.insert(key.toString(QKeySequence::PortableText));
    }
    QHash<QObject *, bool> hasListedKey;
    for (const Binding &b : bindings)
        hasListedKey[b.object] = hasListedKey.value(b.object) || listed.contains(b.key) || named(b.key);
    QStringList missing;
    for (const Binding &b : bindings) {
        if (unlisted.contains(b.object) || listed.contains(b.key) || named(b.key))
            continue;
        if (platformKeys.contains(b.key) && hasListedKey.value(b.object))
            continue;
        missing << QStringLiteral("%1 (%2)").arg(b.key, b.owner);
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not in the F1 list: ") + missing.join(QLatin1String(", "))));
}

// In the smallest window and in every language, the status bar is inside it and the canvas's texts
// are whole: the hint line and a
// long toast wrap inside the canvas, the toast stays above the progress card, and the status bar
// shows the polygon hint in full.
void TestWindowKeys::textsFitTheCanvas_data()
{
    QTest::addColumn<QString>("language");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first;
}

void TestWindowKeys::textsFitTheCanvas()
{
    QFETCH(QString, language);
    setLanguage(language);
    auto window = openWindow(m_dir);
    QVERIFY(window);
    window->resize(window->minimumSize());
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_COMPARE(window->size(), window->minimumSize());
    QWidget *canvas = window->view()->parentWidget();
    // What the panels, toolbar and status bar need fits the smallest window: nothing is pushed off.
    QVERIFY2(window->layout()->minimumSize().height() <= window->minimumHeight(),
             qPrintable(QString::number(window->layout()->minimumSize().height())));
    QVERIFY2(window->layout()->minimumSize().width() <= window->minimumWidth(),
             qPrintable(QString::number(window->layout()->minimumSize().width())));
    const QRect bar(window->statusBar()->mapTo(window.get(), QPoint()), window->statusBar()->size());
    QVERIFY(window->rect().contains(bar));

    const auto whole = [canvas](const QLabel *label) {
        const QRect inCanvas(label->mapTo(canvas, QPoint()), label->size());
        const bool inside = canvas->rect().contains(inCanvas);
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        const bool tall = label->height() >= needed;
        const bool wide = label->wordWrap() || label->width() >= label->sizeHint().width();
        return inside && tall && wide;
    };
    const auto *hint = canvas->findChild<QLabel *>(QStringLiteral("canvasHint"));
    QVERIFY(hint);
    QVERIFY2(whole(hint), qPrintable(hint->text()));

    // A notice that names two long paths.
    const QString notice = translateText("新类别 %1 已写入 %2，请同时把它加入 %3")
                               .arg(QStringLiteral("traffic_light"),
                                    m_dir + QStringLiteral("/datasets/city_streets_2024/labels/train/classes.txt"),
                                    m_dir + QStringLiteral("/datasets/city_streets_2024/data.yaml"));
    window->progressCard()->start(10, m_images.at(0));
    window->toast()->showMessage(notice);
    QTRY_VERIFY(window->toast()->isVisible());
    QTest::qWait(250);   // the slide-in
    const auto *toastLabel = window->toast()->findChild<QLabel *>();
    QVERIFY2(whole(toastLabel), qPrintable(notice));
    QCOMPARE(window->toast()->text(), notice);
    QVERIFY2(window->toast()->geometry().bottom() < window->progressCard()->geometry().top(),
             "the toast is under the progress card");
    window->progressCard()->finish();

    // The polygon hint in the status bar, beside the category in use.
    window->categories()->setLastLabel(QStringLiteral("traffic_light"));
    window->setDontAskCategory(true);
    QVERIFY(!window->statusPanel()->categoryText().isEmpty());
    window->actions().polyMode->trigger();
    QTest::mouseClick(window->view()->viewport(), Qt::LeftButton, {}, window->view()->viewport()->rect().center());
    QVERIFY(!window->statusPanel()->message().isEmpty());
    QVERIFY2(window->statusPanel()->messageShown(), qPrintable(window->statusPanel()->message()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(window->statusPanel()->message().isEmpty());
    // The category comes back with the rest.
    QVERIFY(window->statusBar()->findChild<QLabel *>(QStringLiteral("statusCategory"))->isVisible());
    setLanguage(QStringLiteral("zh_CN"));
}

// The file list's splitter handle widens it, and the next window starts at that width.
void TestWindowKeys::fileListWidthRemembered()
{
    int widened = 0;
    {
        auto window = openWindow(m_dir);
        QVERIFY(window);
        QCOMPARE(window->fileList()->width(), 220);
        QSplitterHandle *handle = window->splitter()->handle(1);
        const QPoint grip = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QTest::mouseMove(handle, grip + QPoint(120, 0));
        // The handle has moved along: the release is where it is now.
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip);
        QTRY_VERIFY(window->fileList()->width() > 300);
        widened = window->fileList()->width();
        window->close();
    }
    auto again = openWindow(m_dir);
    QVERIFY(again);
    QCOMPARE(again->fileList()->width(), widened);
}


BRINDLE_WINDOW_TEST_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
