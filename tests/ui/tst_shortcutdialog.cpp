#include "ui/aboutbox.h"
#include "ui/shortcutdelegate.h"
#include "ui/shortcutdialog.h"

#include "shared/language.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QAbstractButton>
#include <QCursor>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

namespace {

const QColor kChipBorder(0x3A, 0x41, 0x50);
const QColor kChipFill(0x33, 0x39, 0x47);

QFont fixedFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    return font;
}

bool isText(const QColor &c)
{
    return c.lightness() > 140;
}

// A bare list with the delegate, as the dialog uses it.
struct DelegateList
{
    explicit DelegateList(const QStringList &keys, Qt::LayoutDirection direction = Qt::LeftToRight)
    {
        list.setFont(fixedFont());
        list.setLayoutDirection(direction);
        list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list.setFrameShape(QFrame::NoFrame);
        list.setStyleSheet(QStringLiteral("QListWidget { background: #262A33; border: none; }"));
        keyColumn = ShortcutDelegate::keyColumnWidth(QFontMetrics(list.font()), keys);
        list.setItemDelegate(new ShortcutDelegate(keyColumn, &list));
        for (const QString &k : keys) {
            auto *item = new QListWidgetItem(&list);
            item->setData(Qt::DisplayRole, k);
            item->setData(Qt::UserRole, QStringLiteral("Description of %1").arg(k));
        }
        list.resize(480, 34 * int(keys.size()));
        // Away from the pointer, so that no row starts out hovered.
        QCursor::setPos(0, 0);
        list.move(100, 100);
        list.show();
    }
    QImage grab() { return list.viewport()->grab().toImage(); }
    QRect row(int i) { return list.visualItemRect(list.item(i)); }

    QListWidget list;
    int keyColumn = 0;
};

} // namespace

class TestShortcutDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void splitKeys_data();
    void splitKeys();
    void keyColumnWidth_data();
    void keyColumnWidth();
    void chipsPainted_data();
    void chipsPainted();
    void rowBackgrounds();
    void rows();
    void dialogLayout();
    void fittedWidth_data();
    void fittedWidth();
    void fittedHeight_data();
    void fittedHeight();
    void allRowsVisibleInTallWindow_data();
    void allRowsVisibleInTallWindow();
    void shortWindowScrolls();
    void descriptionsFit_data();
    void descriptionsFit();
    void closeButtonCloses();
    void aboutBox_data();
    void aboutBox();
    void render_data();
    void render();
};

void TestShortcutDialog::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestShortcutDialog::init()
{
    setLanguage(QStringLiteral("zh_CN"));
    applyLanguageFont();
}

void TestShortcutDialog::splitKeys_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("chips");

    QTest::newRow("arrows, two spaces around the slash") << "←  /  →" << QStringList{"←", "→"};
    QTest::newRow("digit range is one chip") << "1–9" << QStringList{"1–9"};
    QTest::newRow("two combinations") << "Ctrl+Z / Ctrl+Y" << QStringList{"Ctrl+Z", "Ctrl+Y"};
    QTest::newRow("single key") << "W" << QStringList{"W"};
    QTest::newRow("plus inside a chip") << "空格+拖拽" << QStringList{"空格+拖拽"};
    QTest::newRow("empty pieces dropped") << " / A // " << QStringList{"A"};
    QTest::newRow("empty") << "" << QStringList();
}

void TestShortcutDialog::splitKeys()
{
    QFETCH(QString, keys);
    QFETCH(QStringList, chips);
    QCOMPARE(ShortcutDelegate::splitKeys(keys), chips);
}

void TestShortcutDialog::keyColumnWidth_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("widest");   // chips of the widest row, "|" between them
    const QStringList rows = {"W", "Ctrl+Z / Ctrl+Y", "1–9", "←  /  →"};
    QTest::newRow("two-chip row is the widest") << rows << "Ctrl+Z|Ctrl+Y";
    QTest::newRow("single row") << QStringList{"Esc"} << "Esc";
    QTest::newRow("one long chip beats two short") << QStringList{"A / D", "Ctrl+Shift+Alt+PgDown"} << "Ctrl+Shift+Alt+PgDown";
}

void TestShortcutDialog::keyColumnWidth()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, widest);

    const QFontMetrics metrics(fixedFont());
    // Each chip is its text plus 18, with 6 between chips; the column adds 8.
    int expected = 0;
    const QStringList chips = widest.split(QLatin1Char('|'));
    for (const QString &chip : chips)
        expected += metrics.horizontalAdvance(chip) + 18;
    expected += 6 * (int(chips.size()) - 1);
    QCOMPARE(ShortcutDelegate::chipsWidth(metrics, widest.split(QLatin1Char('|')).join(QStringLiteral(" / "))), expected);
    QCOMPARE(ShortcutDelegate::keyColumnWidth(metrics, keys), expected + 8);
    QCOMPARE(ShortcutDelegate::keyColumnWidth(metrics, {}), 8);
}

void TestShortcutDialog::chipsPainted_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("rtl");
    QTest::newRow("two chips, left to right") << "Ctrl+Z / Ctrl+Y" << false;
    QTest::newRow("arrows, left to right") << "←  /  →" << false;
    QTest::newRow("one chip, left to right") << "1–9" << false;
    QTest::newRow("two chips, right to left") << "Ctrl+Z / Ctrl+Y" << true;
    QTest::newRow("one chip, right to left") << "1–9" << true;
}

// The painted chips take exactly the width the key column is computed from, from the row's
// leading edge, and the description starts after the key column.
void TestShortcutDialog::chipsPainted()
{
    QFETCH(QString, keys);
    QFETCH(bool, rtl);

    DelegateList view({keys, QStringLiteral("W")}, rtl ? Qt::RightToLeft : Qt::LeftToRight);
    QVERIFY(QTest::qWaitForWindowExposed(&view.list));
    const QImage image = view.grab();
    const QRect row = view.row(0);
    QCOMPARE(row.height(), 34);
    const int y = row.center().y();
    const QFontMetrics metrics(view.list.font());
    const int width = ShortcutDelegate::chipsWidth(metrics, keys);
    const int firstChip = metrics.horizontalAdvance(ShortcutDelegate::splitKeys(keys).first()) + 18;

    // Leading border, fill, trailing border of the whole chip group.
    const int lead = rtl ? row.right() - 12 : row.left() + 12;
    const int trail = rtl ? lead - width + 1 : lead + width - 1;
    const int in = rtl ? -1 : 1;
    QCOMPARE(image.pixelColor(lead, y), kChipBorder);
    QCOMPARE(image.pixelColor(lead + 2 * in, y), kChipFill);
    QCOMPARE(image.pixelColor(trail, y), kChipBorder);
    QVERIFY(image.pixelColor(trail + in, y) != kChipBorder);
    QVERIFY(image.pixelColor(lead - in, y) != kChipBorder);
    // Chips are 22 high, centred.
    const int middle = lead + firstChip / 2 * in;
    QCOMPARE(image.pixelColor(middle, row.top() + 6), kChipBorder);
    QCOMPARE(image.pixelColor(middle, row.top() + 27), kChipBorder);
    QVERIFY(image.pixelColor(middle, row.top() + 5) != kChipBorder);
    QVERIFY(image.pixelColor(middle, row.top() + 28) != kChipBorder);
    if (ShortcutDelegate::splitKeys(keys).size() == 2) {
        // A gap between the chips.
        QVERIFY(image.pixelColor(lead + (firstChip + 2) * in, y) != kChipFill);
        QVERIFY(image.pixelColor(lead + (firstChip + 2) * in, y) != kChipBorder);
    }

    // Description: nothing between the chips and its start, text soon after.
    const int textStart = rtl ? row.left() + 6 + (row.width() - view.keyColumn - 30) - 1
                              : row.left() + 12 + view.keyColumn + 18;
    int textPixels = 0;
    for (int x = textStart; x != textStart + 60 * -in; x -= in) {
        for (int yy = row.top(); yy <= row.bottom(); ++yy)
            textPixels += isText(image.pixelColor(x, yy)) ? 1 : 0;
    }
    QVERIFY(textPixels > 0);
    for (int x = trail + in; x != textStart; x += in) {
        for (int yy = row.top(); yy <= row.bottom(); ++yy)
            QVERIFY2(!isText(image.pixelColor(x, yy)), qPrintable(QStringLiteral("text at %1,%2").arg(x).arg(yy)));
    }
    saveRender(image, QStringLiteral("shortcutrow_%1.png").arg(QString::number(qHash(keys)) + (rtl ? "_rtl" : "")));
}

void TestShortcutDialog::rowBackgrounds()
{
    DelegateList view({QStringLiteral("W"), QStringLiteral("P"), QStringLiteral("E"), QStringLiteral("Del")});
    QVERIFY(QTest::qWaitForWindowExposed(&view.list));
    view.list.item(2)->setSelected(true);
    const QImage image = view.grab();
    const int x = view.list.width() - 4;   // clear of chips and text
    QCOMPARE(image.pixelColor(x, view.row(0).center().y()).name(), QStringLiteral("#262a33"));
    // White at alpha 6 over the list: a shade lighter.
    const QColor odd = image.pixelColor(x, view.row(1).center().y());
    QVERIFY2(odd.red() > 0x26 && odd.red() <= 0x2c, qPrintable(odd.name()));
    QCOMPARE(image.pixelColor(x, view.row(2).center().y()).name(), QStringLiteral("#1c3a63"));

    QTest::mouseMove(view.list.viewport(), view.row(3).center());
    QTRY_COMPARE(view.grab().pixelColor(x, view.row(3).center().y()).name(), QStringLiteral("#2b303b"));
    // Selected stays selected under the pointer.
    QTest::mouseMove(view.list.viewport(), view.row(2).center());
    QTRY_COMPARE(view.grab().pixelColor(x, view.row(3).center().y()), odd);
    QCOMPARE(view.grab().pixelColor(x, view.row(2).center().y()).name(), QStringLiteral("#1c3a63"));

    QSize hint = view.list.itemDelegate()->sizeHint(QStyleOptionViewItem(), view.list.model()->index(0, 0));
    QCOMPARE(hint.height(), 34);
}

void TestShortcutDialog::rows()
{
    const QList<ShortcutRow> rows = ShortcutDialog::rows();
    QCOMPARE(rows.size(), 17);
    QStringList keys;
    for (const ShortcutRow &row : rows)
        keys << row.keys;
    const QStringList expected = {"W", "P", "E", "1–9", "Del", "Ctrl+S", "Ctrl+Z / Ctrl+Y", "←  /  →", "A / D",
                                  "Enter", "Esc", "空格+拖拽", "滚轮", "Ctrl+O", "Ctrl+G", "Ctrl+0 / Ctrl+1", "F2 / F3"};
    QCOMPARE(keys, expected);
    QCOMPARE(rows.at(3).description, QStringLiteral("按行号给选中框指定类别（无选中时设为下一个框的类别）"));
    QCOMPARE(rows.at(9).description, QStringLiteral("确认当前 ⚡框（双击同）"));
    QCOMPARE(rows.at(16).description, QStringLiteral("显示/隐藏 文件列表 / 标注面板"));

    setLanguage(QStringLiteral("en"));
    const QList<ShortcutRow> english = ShortcutDialog::rows();
    QCOMPARE(english.at(11).keys, QStringLiteral("Space+Drag"));
    QCOMPARE(english.at(12).keys, QStringLiteral("Wheel"));
    QCOMPARE(english.at(0).description, QStringLiteral("Rectangle Mode"));
    QCOMPARE(english.at(3).keys, QStringLiteral("1–9"));
}

void TestShortcutDialog::dialogLayout()
{
    QWidget window;
    window.resize(1200, 900);
    ShortcutDialog dialog(&window);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("快捷键一览"));
    QVERIFY(dialog.isModal());
    auto *header = dialog.findChild<QLabel *>(QStringLiteral("h1"));
    QVERIFY(header);
    QCOMPARE(header->text(), QStringLiteral("快捷键一览"));

    QListWidget *list = dialog.list();
    QCOMPARE(list->count(), 17);
    QVERIFY(list->hasMouseTracking());
    QCOMPARE(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(list->verticalScrollMode(), QAbstractItemView::ScrollPerPixel);
    QCOMPARE(list->item(3)->data(Qt::DisplayRole).toString(), QStringLiteral("1–9"));
    QCOMPARE(list->item(3)->data(Qt::UserRole).toString(),
             QStringLiteral("按行号给选中框指定类别（无选中时设为下一个框的类别）"));
    auto *delegate = qobject_cast<ShortcutDelegate *>(list->itemDelegate());
    QVERIFY(delegate);
    QCOMPARE(delegate->keyColumnWidth(), dialog.keyColumnWidth());

    QStringList keys;
    for (const ShortcutRow &row : ShortcutDialog::rows())
        keys << row.keys;
    QCOMPARE(dialog.keyColumnWidth(), ShortcutDelegate::keyColumnWidth(window.fontMetrics(), keys));

    auto *close = dialog.findChild<QPushButton *>();
    QCOMPARE(close->text(), QStringLiteral("关闭"));
    QCOMPARE(close->objectName(), QStringLiteral("primary"));
    QVERIFY(close->isDefault());
    QVERIFY(dialog.width() >= 440 && dialog.width() <= 640);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
}

void TestShortcutDialog::fittedWidth_data()
{
    QTest::addColumn<int>("description");
    QTest::addColumn<int>("keyColumn");
    QTest::addColumn<int>("expected");
    QTest::newRow("narrow content, lower bound") << 150 << 100 << 440;
    QTest::newRow("in range") << 330 << 150 << 546;
    QTest::newRow("wide content, upper bound") << 700 << 200 << 640;
    QTest::newRow("exactly the upper bound") << 424 << 150 << 640;
}

void TestShortcutDialog::fittedWidth()
{
    QFETCH(int, description);
    QFETCH(int, keyColumn);
    QFETCH(int, expected);
    QCOMPARE(ShortcutDialog::fittedWidth(description, keyColumn), expected);
}

void TestShortcutDialog::fittedHeight_data()
{
    QTest::addColumn<int>("windowHeight");
    QTest::addColumn<int>("expected");
    // 17 rows, a 30 px button and a 17 px font: 30 + 17 + 17 * 34 + 80 = 705.
    QTest::newRow("tall window: every row") << 1000 << 705;
    QTest::newRow("window just tall enough") << 765 << 705;
    QTest::newRow("shorter window caps the height") << 600 << 540;
    QTest::newRow("small window: never below 420") << 300 << 420;
}

void TestShortcutDialog::fittedHeight()
{
    QFETCH(int, windowHeight);
    QFETCH(int, expected);
    QCOMPARE(ShortcutDialog::fittedHeight(17, 30, 17, windowHeight), expected);
}

void TestShortcutDialog::allRowsVisibleInTallWindow_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "zh_CN";
    QTest::newRow("English") << "en";
    QTest::newRow("Russian") << "ru";
    QTest::newRow("Japanese") << "ja";
}

void TestShortcutDialog::allRowsVisibleInTallWindow()
{
    QFETCH(QString, language);
    setLanguage(language);
    applyLanguageFont();

    QWidget window;
    window.resize(1200, 900);
    ShortcutDialog dialog(&window);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget *list = dialog.list();
    QVERIFY(!list->verticalScrollBar()->isVisible());
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    QVERIFY2(last.bottom() < list->viewport()->height(),
             qPrintable(QStringLiteral("%1 >= %2").arg(last.bottom()).arg(list->viewport()->height())));
    QCOMPARE(last.height(), 34);
    QCOMPARE(last.width(), list->viewport()->width());
}

void TestShortcutDialog::shortWindowScrolls()
{
    QWidget window;
    window.resize(900, 500);
    ShortcutDialog dialog(&window);
    QCOMPARE(dialog.height(), 440);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.list()->verticalScrollBar()->isVisible());
}

void TestShortcutDialog::descriptionsFit_data()
{
    QTest::addColumn<QString>("language");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first;
}

// Every translation fits the widest dialog without being elided.
void TestShortcutDialog::descriptionsFit()
{
    QFETCH(QString, language);
    setLanguage(language);
    applyLanguageFont();

    QWidget window;
    window.ensurePolished();
    ShortcutDialog dialog(&window);
    const QFontMetrics metrics = window.fontMetrics();
    QStringList tooWide;
    for (const ShortcutRow &row : ShortcutDialog::rows()) {
        if (metrics.horizontalAdvance(row.description) + dialog.keyColumnWidth() + 66 > 640)
            tooWide << QStringLiteral("%1 (%2 px, key column %3 px)")
                           .arg(row.description)
                           .arg(metrics.horizontalAdvance(row.description))
                           .arg(dialog.keyColumnWidth());
    }
    QVERIFY2(tooWide.isEmpty(), qPrintable(tooWide.join(QLatin1Char('\n'))));
}

void TestShortcutDialog::closeButtonCloses()
{
    QWidget window;
    window.resize(1000, 800);
    bool shown = false;
    QTimer::singleShot(0, &window, [&] {
        auto *dialog = qobject_cast<ShortcutDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = true;
        QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->done(-1);
    });
    guard.start(10000);
    showShortcutDialog(&window);
    QVERIFY(shown);
    QVERIFY(guard.isActive());   // closed by the button, not by the guard
}

void TestShortcutDialog::aboutBox_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("secondLine");
    QTest::addColumn<QString>("button");
    QTest::newRow("Chinese") << "zh_CN" << "关于 Brindlemark" << "目标检测与分割标注工具" << "确定";
    QTest::newRow("English") << "en" << "About Brindlemark" << "Labelling tool for object detection and segmentation"
                             << "OK";
    QTest::newRow("German") << "de" << "Über Brindlemark" << "Beschriftungswerkzeug für Objekterkennung und Segmentierung"
                            << "OK";
}

void TestShortcutDialog::aboutBox()
{
    QFETCH(QString, language);
    QFETCH(QString, title);
    QFETCH(QString, secondLine);
    QFETCH(QString, button);
    setLanguage(language);
    applyLanguageFont();

    QWidget window;
    QScopedPointer<QMessageBox> box(createAboutBox(&window));
    QCOMPARE(box->windowTitle(), title);
    const QStringList lines = box->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("Brindlemark v1.2.0"));
    QCOMPARE(lines.at(1), secondLine);
    QVERIFY(lines.at(2).contains(QStringLiteral("Qwen3.5-VL")));
    QCOMPARE(lines.at(3), QString());
    QVERIFY(lines.at(4).contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->buttons().first()->text(), button);
    QVERIFY(!box->iconPixmap().isNull());

    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.data()));
    saveRender(box->grab().toImage(), QStringLiteral("aboutbox_%1.png").arg(language));
    QTest::keyClick(box.data(), Qt::Key_Escape);
    QVERIFY(!box->isVisible());
}

void TestShortcutDialog::render_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("rtl");
    QTest::newRow("Chinese") << "zh_CN" << false;
    QTest::newRow("English") << "en" << false;
    QTest::newRow("Polish") << "pl" << false;
    QTest::newRow("English, right to left") << "en" << true;
}

void TestShortcutDialog::render()
{
    QFETCH(QString, language);
    QFETCH(bool, rtl);
    setLanguage(language);
    applyLanguageFont();

    QWidget window;
    window.resize(1200, 900);
    ShortcutDialog dialog(&window);
    if (rtl)
        dialog.setLayoutDirection(Qt::RightToLeft);
    dialog.list()->item(4)->setSelected(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();
    saveRender(image, QStringLiteral("shortcuts_%1%2.png").arg(language, rtl ? "_rtl" : ""));
    QCOMPARE(image.pixelColor(3, 3).name(), QStringLiteral("#262a33"));
}

BRINDLE_TEST_MAIN(TestShortcutDialog)
#include "tst_shortcutdialog.moc"
