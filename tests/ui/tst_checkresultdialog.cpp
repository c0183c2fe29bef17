#include "ui/checkresultdialog.h"

#include "shared/language.h"
#include "shared/languagefont.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTreeWidget>

namespace {

QLabel *summaryLabel(CheckResultDialog *dialog)
{
    const auto labels = dialog->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text() == dialog->summaryText())
            return label;
    }
    return nullptr;
}

QPushButton *closeButton(QWidget *dialog)
{
    return dialog->findChild<QPushButton *>();   // the only button
}

} // namespace

class TestCheckResultDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void layout();
    void rows_data();
    void rows();
    void doubleClickOpens();
    void finishSummary_data();
    void finishSummary();
    void resetClearsRowsAndColour();
    void retranslate();
    void manyRows();
    void render_data();
    void render();
    void besideTheWindow_data();
    void besideTheWindow();
    void offTheShape_data();
    void offTheShape();
    void smallerOverAMaximisedWindow();
};

void TestCheckResultDialog::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestCheckResultDialog::init()
{
    setLanguage(QStringLiteral("zh_CN"));
}

void TestCheckResultDialog::layout()
{
    CheckResultDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("检查标注"));
    QVERIFY(!dialog.isModal());
    QCOMPARE(dialog.size(), QSize(860, 520));
    // The window, not the dialog, decides whether it is deleted on close.
    QVERIFY(!dialog.testAttribute(Qt::WA_DeleteOnClose));
    auto *tree = dialog.findChild<QTreeWidget *>();
    QCOMPARE(tree->headerItem()->text(2), QStringLiteral("详情"));
    QCOMPARE(tree->header()->sectionResizeMode(1), QHeaderView::ResizeToContents);
    QCOMPARE(dialog.summaryText(), QStringLiteral("已检查 0 张图片，发现 0 个问题（涉及 0 张图片）"));
}

void TestCheckResultDialog::rows_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("drive path") << "C:/ds/img/a.jpg" << "越界框" << "第1个「cat」(-3,0)-(20,20) 超出图像 100x50" << "a.jpg";
    QTest::newRow("posix path") << "/data/set/b.png" << "过小框" << "第2个「dog」尺寸 1x5" << "b.png";
    QTest::newRow("spaces and CJK") << "/数据/第 1 批/图 片.webp" << "未知类别" << "第1个「猫」不在类别表中" << "图 片.webp";
    QTest::newRow("no directory") << "c.jpg" << "推理失败" << "推理失败 (HTTP 500): Internal Server Error" << "c.jpg";
}

void TestCheckResultDialog::rows()
{
    QFETCH(QString, path);
    QFETCH(QString, problem);
    QFETCH(QString, detail);
    QFETCH(QString, fileName);

    CheckResultDialog dialog;
    dialog.addIssue(QStringLiteral("/other/first.jpg"), QStringLiteral("重复框"), QStringLiteral("x"));
    dialog.addIssue(path, problem, detail);
    QCOMPARE(dialog.rowCount(), 2);

    auto *tree = dialog.findChild<QTreeWidget *>();
    QTRY_COMPARE(tree->topLevelItemCount(), 2);
    QTreeWidgetItem *item = tree->topLevelItem(1);   // appended, not sorted in
    QCOMPARE(item->text(0), fileName);
    QCOMPARE(item->toolTip(0), path);
    QCOMPARE(item->text(1), problem);
    QCOMPARE(item->text(2), detail);
    QCOMPARE(item->data(0, Qt::UserRole).toString(), path);
}

void TestCheckResultDialog::doubleClickOpens()
{
    CheckResultDialog dialog;
    dialog.addIssue(QStringLiteral("C:/ds/img/a.jpg"), QStringLiteral("越界框"), QStringLiteral("d1"));
    dialog.addIssue(QStringLiteral("C:/ds/img/b.jpg"), QStringLiteral("过小框"), QStringLiteral("d2"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy open(&dialog, &CheckResultDialog::openImageRequested);

    auto *tree = dialog.findChild<QTreeWidget *>();
    QTRY_COMPARE(tree->topLevelItemCount(), 2);
    // Double-click on the detail column of the second row: the row's path, whatever the column.
    const QRect rect = tree->visualItemRect(tree->topLevelItem(1));
    const QPoint at(tree->header()->sectionPosition(2) + 10, rect.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(open.count(), 0);   // a single click only selects
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.first().first().toString(), QStringLiteral("C:/ds/img/b.jpg"));

    // Return on a row opens it too, instead of pressing the close button.
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::keyClick(tree, Qt::Key_Return);
    QCOMPARE(open.count(), 2);
    QCOMPARE(open.last().first().toString(), QStringLiteral("C:/ds/img/a.jpg"));
    QVERIFY(dialog.isVisible());
}

void TestCheckResultDialog::finishSummary_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("style");

    QTest::newRow("no findings") << 0 << "已检查 12 张图片，发现 0 个问题（涉及 0 张图片） —— 未发现问题 ✓" << "color:#3FB27F;";
    QTest::newRow("with findings") << 2 << "已检查 12 张图片，发现 2 个问题（涉及 1 张图片）" << "";
}

void TestCheckResultDialog::finishSummary()
{
    QFETCH(int, rows);
    QFETCH(QString, expected);
    QFETCH(QString, style);

    CheckResultDialog dialog;
    for (int i = 0; i < rows; ++i)
        dialog.addIssue(QStringLiteral("/d/a.jpg"), QStringLiteral("重复框"), QString::number(i));
    dialog.setSummary(12, rows, rows ? 1 : 0);
    dialog.finishSummary();
    // The end of a check shows every row at once, without waiting for the next batch.
    QCOMPARE(dialog.findChild<QTreeWidget *>()->topLevelItemCount(), rows);
    QCOMPARE(summaryLabel(&dialog)->text(), expected);
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), style);
    // Finishing twice does not append the mark twice.
    dialog.finishSummary();
    QCOMPARE(dialog.summaryText(), expected);
}

void TestCheckResultDialog::resetClearsRowsAndColour()
{
    CheckResultDialog dialog;
    dialog.setSummary(3, 0, 0);
    dialog.finishSummary();
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), QStringLiteral("color:#3FB27F;"));

    dialog.reset();
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), QString());
    QCOMPARE(dialog.summaryText(), QStringLiteral("已检查 0 张图片，发现 0 个问题（涉及 0 张图片）"));

    dialog.addIssue(QStringLiteral("/d/a.jpg"), QStringLiteral("重复框"), QStringLiteral("x"));
    dialog.addIssue(QStringLiteral("/d/b.jpg"), QStringLiteral("重复框"), QStringLiteral("y"));
    dialog.reset();
    QCOMPARE(dialog.rowCount(), 0);
    QCOMPARE(dialog.findChild<QTreeWidget *>()->topLevelItemCount(), 0);
    // A clean second check turns green again; a late row takes the green away.
    dialog.setSummary(7, 0, 0);
    dialog.finishSummary();
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), QStringLiteral("color:#3FB27F;"));
    dialog.addIssue(QStringLiteral("/d/a.jpg"), QStringLiteral("推理失败"), QStringLiteral("timeout"));
    QCOMPARE(dialog.summaryText(), QStringLiteral("已检查 7 张图片，发现 0 个问题（涉及 0 张图片）"));
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), QString());
}

void TestCheckResultDialog::retranslate()
{
    CheckResultDialog dialog;
    dialog.setSummary(4, 0, 0);
    dialog.finishSummary();
    setLanguage(QStringLiteral("en"));
    dialog.retranslate();

    auto *tree = dialog.findChild<QTreeWidget *>();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Check Labels"));
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("Image"));
    QCOMPARE(tree->headerItem()->text(1), QStringLiteral("Issue"));
    QCOMPARE(tree->headerItem()->text(2), QStringLiteral("Details"));
    QCOMPARE(closeButton(&dialog)->text(), QStringLiteral("Close"));
    QCOMPARE(dialog.summaryText(), QStringLiteral("Checked 4 image(s), found 0 issue(s) in 0 image(s) — no issues found ✓"));
    QCOMPARE(summaryLabel(&dialog)->styleSheet(), QStringLiteral("color:#3FB27F;"));
}

// Tens of thousands of findings arrive on a big dataset; prints the times, asserts no timing.
// Worst case: every finding comes in its own turn of the event loop, as when the checker is slower
// than the window.
void TestCheckResultDialog::manyRows()
{
    CheckResultDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *tree = dialog.findChild<QTreeWidget *>();
    constexpr int kRows = 20000;

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRows; ++i) {
        dialog.addIssue(QStringLiteral("/datasets/coco/images/train/%1.jpg").arg(i, 12, 10, QLatin1Char('0')),
                        QStringLiteral("越界框"),
                        QStringLiteral("第%1个「person」(-3,12)-(640,480) 超出图像 640x427").arg(i % 7 + 1));
        QCoreApplication::processEvents();
    }
    const qint64 adding = clock.restart();
    dialog.setSummary(kRows, kRows, kRows);
    dialog.finishSummary();
    QCoreApplication::processEvents();
    dialog.grab();
    const qint64 painting = clock.elapsed();
    qInfo("%d rows added in %lld ms (event loop turned after each), laid out and painted in %lld ms",
          kRows, adding, painting);

    QCOMPARE(dialog.rowCount(), kRows);
    QCOMPARE(tree->topLevelItemCount(), kRows);
    QCOMPARE(tree->topLevelItem(kRows - 1)->text(0), QStringLiteral("000000019999.jpg"));
    QCOMPARE(tree->topLevelItem(kRows - 1)->data(0, Qt::UserRole).toString(),
             QStringLiteral("/datasets/coco/images/train/000000019999.jpg"));

    // Rows still waiting for their batch go with a reset too.
    dialog.addIssue(QStringLiteral("/d/late.jpg"), QStringLiteral("越界框"), QStringLiteral("x"));
    clock.start();
    dialog.reset();
    qInfo("reset of %d rows in %lld ms", kRows + 1, clock.elapsed());
    QCOMPARE(tree->topLevelItemCount(), 0);
    dialog.finishSummary();   // flushes whatever still waits: nothing may
    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(dialog.rowCount(), 0);
}

void TestCheckResultDialog::render_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("clean");
    QTest::newRow("Chinese, findings") << "zh_CN" << false;
    QTest::newRow("Chinese, clean") << "zh_CN" << true;
    QTest::newRow("English, findings") << "en" << false;
}

void TestCheckResultDialog::render()
{
    QFETCH(QString, language);
    QFETCH(bool, clean);
    setLanguage(language);
    applyLanguageFont();

    CheckResultDialog dialog;
    if (!clean) {
        dialog.addIssue(QStringLiteral("/data/ds/img/street_0001.jpg"), QStringLiteral("越界框"),
                        QStringLiteral("第1个「car」(-12,40)-(320,260) 超出图像 640x480"));
        dialog.addIssue(QStringLiteral("/data/ds/img/street_0002.jpg"), QStringLiteral("重复框"),
                        QStringLiteral("第3个与第2个「person」几乎完全重叠(IoU>0.95)"));
        dialog.addIssue(QStringLiteral("/data/ds/img/street_0007.jpg"), QStringLiteral("类别不符"),
                        QStringLiteral("第2个标注为「dog」,模型识别为「cat」(IoU=0.82)"));
        dialog.setSummary(120, 3, 3);
    } else {
        dialog.setSummary(120, 0, 0);
    }
    dialog.finishSummary();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();
    saveRender(image, QStringLiteral("checkresult_%1_%2.png").arg(language, clean ? "clean" : "rows"));

    QCOMPARE(image.pixelColor(3, 3).name(), QStringLiteral("#262a33"));
    auto *tree = dialog.findChild<QTreeWidget *>();
    const QPoint header = tree->header()->mapTo(&dialog, QPoint(tree->header()->width() / 2, 3));
    QCOMPARE(image.pixelColor(header).name(), QStringLiteral("#2d323d"));
    // The hint is plain secondary text, not a box of another colour.
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text() == translateText("双击行打开对应图片"))
            QCOMPARE(image.pixelColor(label->mapTo(&dialog, QPoint(1, 1))).name(), QStringLiteral("#262a33"));
    }
}

void TestCheckResultDialog::besideTheWindow_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("room at the right") << QRect(0, 40, 1000, 800) << QPoint(1008, 40);
    QTest::newRow("room at the left only") << QRect(900, 40, 1000, 800) << QPoint(32, 40);
    QTest::newRow("maximised: the screen's bottom right") << QRect(0, 0, 1920, 1080) << QPoint(1060, 530);
    QTest::newRow("kept on screen vertically") << QRect(0, 700, 1000, 300) << QPoint(1008, 530);
}

void TestCheckResultDialog::besideTheWindow()
{
    QFETCH(QRect, window);
    QFETCH(QPoint, expected);
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(860, 550);
    const QPoint at = CheckResultDialog::besidePosition(window, size, screen);
    QCOMPARE(at, expected);
    QVERIFY(screen.contains(QRect(at, size)));
}

void TestCheckResultDialog::offTheShape_data()
{
    QTest::addColumn<QRect>("dialog");
    QTest::addColumn<QRect>("shape");
    QTest::addColumn<bool>("moves");
    const QRect dialog(1060, 530, 860, 550);
    QTest::newRow("shape elsewhere: stays") << dialog << QRect(100, 100, 200, 200) << false;
    QTest::newRow("shape under it: moves left of it") << dialog << QRect(1500, 700, 100, 100) << true;
    QTest::newRow("shape at the screen's right edge: moves above or left")
        << dialog << QRect(1800, 900, 100, 100) << true;
    QTest::newRow("wide shape under it: below or above") << QRect(400, 200, 860, 300) << QRect(100, 250, 1700, 100)
                                                         << true;
}

void TestCheckResultDialog::offTheShape()
{
    QFETCH(QRect, dialog);
    QFETCH(QRect, shape);
    QFETCH(bool, moves);
    const QRect screen(0, 0, 1920, 1080);
    const QPoint at = CheckResultDialog::offPosition(dialog, shape, screen);
    QCOMPARE(at != dialog.topLeft(), moves);
    const QRect placed(at, dialog.size());
    QVERIFY2(!placed.intersects(shape), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
    QVERIFY(screen.contains(placed));
}

void TestCheckResultDialog::smallerOverAMaximisedWindow()
{
    QWidget window;
    window.show();
    CheckResultDialog dialog(&window);
    const QRect screen = window.screen()->availableGeometry();
    const QSize full = dialog.size();
    dialog.placeBeside(screen);
    QVERIFY(dialog.width() < full.width());
    QVERIFY(dialog.height() < full.height());
    // In the screen's bottom right corner.
    QVERIFY(screen.contains(QRect(dialog.pos(), dialog.size())));
    QVERIFY(dialog.x() + dialog.width() >= screen.right() - 4);
}

BRINDLE_TEST_MAIN(TestCheckResultDialog)
#include "tst_checkresultdialog.moc"
