#include "ui/aboutbox.h"
#include "ui/shortcutdelegate.h"
#include "ui/shortcutdialog.h"

#include "shared/language.h"
#include "shared/languagefont.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QAbstractButton>
#include <QCursor>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

namespace {

const QColor kChipBorder(0x3A, 0x41, 0x50);
const QColor kChipFill(0x33, 0x39, 0x47);

QFont fixedFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    return font;
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
        list.resize(480, ShortcutDelegate::kRowHeight * int(keys.size()));
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
    void everyLanguageFits_data();
    void everyLanguageFits();
    void aboutBox_data();
    void aboutBox();
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
    QCOMPARE(row.height(), ShortcutDelegate::kRowHeight);
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
    // Chips are 22 high, centred, with a gap between two of them.
    const int middle = lead + firstChip / 2 * in;
    // The 22 px chip sits in the middle of its row.
    const int chipTop = row.top() + (ShortcutDelegate::kRowHeight - 22) / 2;
    QCOMPARE(image.pixelColor(middle, chipTop), kChipBorder);
    QCOMPARE(image.pixelColor(middle, chipTop + 21), kChipBorder);
    QVERIFY(image.pixelColor(middle, chipTop - 1) != kChipBorder);
    if (ShortcutDelegate::splitKeys(keys).size() == 2)
        QCOMPARE(image.pixelColor(lead + (firstChip + 2) * in, y).name(), QStringLiteral("#262a33"));

    // The description: no text between the chips and its start, text within 60 px after.
    const int textStart = rtl ? row.right() - view.keyColumn - 24 : row.left() + 12 + view.keyColumn + 18;
    auto textIn = [&](int from, int to) {
        for (int x = std::min(from, to); x <= std::max(from, to); ++x) {
            for (int yy = row.top(); yy <= row.bottom(); ++yy) {
                if (image.pixelColor(x, yy).lightness() > 140)
                    return true;
            }
        }
        return false;
    };
    QVERIFY(!textIn(trail + in, textStart - in));
    QVERIFY(textIn(textStart, textStart + 60 * in));
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
}

void TestShortcutDialog::rows()
{
    QStringList keys;
    for (const ShortcutRow &row : ShortcutDialog::rows())
        keys << row.keys;
    const QStringList expected = {"W / P / R / E", "1–9", "Del", "Ctrl+S / V / Ctrl+Q", "Ctrl+Shift+V", "Ctrl+Z / Ctrl+Y",
                                  "←  /  →", "PgUp / PgDn", "方向键", "Z / X / Shift+Z / Shift+X", "A / D", "Enter", "Esc",
                                  "Ctrl+Enter / Ctrl+Del", "空格+拖拽 / 滚轮", "Shift+拖拽", "Ctrl+O / Ctrl+G / F5",
                                  "Ctrl+0 / Ctrl+1", "Ctrl+Shift+↑↓←→", "F2 / F3 / Ctrl+H"};
    QCOMPARE(keys, expected);
    // The rules of the digits and the arrows: only what the user picked takes them.
    QCOMPARE(ShortcutDialog::rows().at(1).description,
             QStringLiteral("给你点选（单击、框选、A / D）的框指定该行的类别；因画完或确认而选中的框不算，"
                            "这时设为下一个框的类别"));
    QCOMPARE(ShortcutDialog::rows().at(6).description, QStringLiteral("上一张 / 下一张；有你点选的框时移动它"));

    setLanguage(QStringLiteral("en"));
    QCOMPARE(ShortcutDialog::rows().at(14).keys, QStringLiteral("Space+Drag / Wheel"));
    QCOMPARE(ShortcutDialog::rows().at(8).keys, QStringLiteral("Arrow keys"));
    QCOMPARE(ShortcutDialog::rows().at(15).keys, QStringLiteral("Shift+Drag"));
}

void TestShortcutDialog::dialogLayout()
{
    QWidget window;
    window.resize(1200, 900);
    ShortcutDialog dialog(&window);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("快捷键一览"));
    QVERIFY(dialog.isModal());
    QListWidget *list = dialog.list();
    QCOMPARE(list->count(), int(ShortcutDialog::rows().size()));
    QCOMPARE(list->item(1)->data(Qt::DisplayRole).toString(), QStringLiteral("1–9"));
    QCOMPARE(list->item(1)->data(Qt::UserRole).toString(), ShortcutDialog::rows().at(1).description);
    QCOMPARE(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // The key column comes from the window's font.
    QStringList keys;
    for (const ShortcutRow &row : ShortcutDialog::rows())
        keys << row.keys;
    QCOMPARE(dialog.keyColumnWidth(), ShortcutDelegate::keyColumnWidth(window.fontMetrics(), keys));
    QCOMPARE(qobject_cast<ShortcutDelegate *>(list->itemDelegate())->keyColumnWidth(), dialog.keyColumnWidth());
    auto *close = dialog.findChild<QPushButton *>();
    QCOMPARE(close->objectName(), QStringLiteral("primary"));
    QVERIFY(close->isDefault());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    // A short window caps the height; the list scrolls.
    window.resize(900, 500);
    ShortcutDialog small(&window);
    QCOMPARE(small.height(), 440);
}

void TestShortcutDialog::fittedWidth_data()
{
    QTest::addColumn<int>("description");
    QTest::addColumn<int>("keyColumn");
    QTest::addColumn<int>("expected");
    QTest::newRow("narrow content, lower bound") << 150 << 100 << 440;
    QTest::newRow("in range") << 330 << 150 << 546;
    QTest::newRow("wide content, upper bound") << 900 << 200 << 1000;
    QTest::newRow("exactly the upper bound") << 784 << 150 << 1000;
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
    // Rows of 578 px (17 of 34 px), a 30 px button and a 17 px font: 30 + 17 + 578 + 80 = 705.
    QTest::newRow("tall window: every row") << 1000 << 705;
    QTest::newRow("window just tall enough") << 765 << 705;
    QTest::newRow("shorter window caps the height") << 600 << 540;
    QTest::newRow("small window: never below 420") << 300 << 420;
}

void TestShortcutDialog::fittedHeight()
{
    QFETCH(int, windowHeight);
    QFETCH(int, expected);
    QCOMPARE(ShortcutDialog::fittedHeight(17 * 34, 30, 17, windowHeight), expected);
}

void TestShortcutDialog::everyLanguageFits_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("rtl");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first << false;
    QTest::newRow("en, right to left") << "en" << true;
}

// In a window of the default size every row shows without scrolling, and no description is cut:
// long ones wrap. Saves a render of each language.
void TestShortcutDialog::everyLanguageFits()
{
    QFETCH(QString, language);
    QFETCH(bool, rtl);
    setLanguage(language);
    applyLanguageFont();

    QWidget window;
    window.resize(1280, 800);   // the window's default size
    ShortcutDialog dialog(&window);
    if (rtl)
        dialog.setLayoutDirection(Qt::RightToLeft);
    dialog.list()->item(4)->setSelected(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget *list = dialog.list();
    QVERIFY(!list->verticalScrollBar()->isVisible());
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    QVERIFY2(last.bottom() < list->viewport()->height(), qPrintable(QString::number(last.bottom())));
    QCOMPARE(last.width(), list->viewport()->width());

    // No description is cut: a long one wraps, and its row is as tall as the wrapped text.
    const QFontMetrics metrics(list->font());
    const int textWidth = ShortcutDelegate::descriptionWidth(list->viewport()->width(), dialog.keyColumnWidth());
    QStringList cut;
    for (int i = 0; i < list->count(); ++i) {
        const QString description = list->item(i)->data(Qt::UserRole).toString();
        const QRect wrapped = metrics.boundingRect(QRect(0, 0, textWidth, 10000), Qt::TextWordWrap, description);
        const int rowHeight = list->visualItemRect(list->item(i)).height();
        if (wrapped.width() > textWidth || wrapped.height() + 8 > rowHeight)
            cut << QStringLiteral("%1 (%2x%3 in a row of %4)").arg(description).arg(wrapped.width()).arg(wrapped.height()).arg(rowHeight);
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));

    const QImage image = dialog.grab().toImage();
    saveRender(image, QStringLiteral("shortcuts_%1%2.png").arg(language, rtl ? "_rtl" : ""));
    QCOMPARE(image.pixelColor(3, 3).name(), QStringLiteral("#262a33"));
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

BRINDLE_TEST_MAIN(TestShortcutDialog)
#include "tst_shortcutdialog.moc"
