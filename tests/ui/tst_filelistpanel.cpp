#include "ui/filelistpanel.h"

#include "shared/language.h"
#include "ui/filedelegate.h"
#include "ui/panelroles.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace {

QListWidget *listOf(FileListPanel &panel)
{
    return panel.findChild<QListWidget *>();
}

QToolButton *filterButton(FileListPanel &panel, const QString &text)
{
    const auto buttons = panel.findChildren<QToolButton *>();
    for (QToolButton *b : buttons) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

const char *const kFilterTexts[FileListPanel::FilterCount] = {"全部", "未标注", "⚡待确认", "完成", "背景"};

void clickFilter(FileListPanel &panel, int filter)
{
    QToolButton *button = filterButton(panel, translateText(kFilterTexts[filter]));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(panel.filter(), filter);
}

QStringList paths(const QString &dir, int from, int to)
{
    QStringList out;
    for (int i = from; i < to; ++i)
        out << QStringLiteral("%1/img%2.jpg").arg(dir).arg(i);
    return out;
}

// Right-clicks a row the way the platform reports it and picks `entry` from the menu that comes
// up (an empty entry closes it). Returns the menu's entries, separators as "".
QStringList runContextMenu(FileListPanel &panel, const QPoint &pos, const QString &entry, bool *iconOnFirst = nullptr)
{
    QListWidget *list = listOf(panel);
    QStringList seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &panel, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        QAction *pick = nullptr;
        const auto actions = menu->actions();
        for (QAction *action : actions) {
            seen << (action->isSeparator() ? QString() : action->text());
            if (!action->isSeparator() && action->text() == entry)
                pick = action;
        }
        if (iconOnFirst)
            *iconOnFirst = !actions.isEmpty() && !actions.first()->icon().isNull();
        if (pick)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(pick).center());
        else
            menu->close();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &panel, [] {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    });
    poll.start();
    guard.start(5000);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    return seen;
}

void writeImage(const QString &path, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(0x4C, 0x8D, 0xFF));
    QVERIFY(image.save(path));
}

} // namespace

class TestFileListPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void filterRules_data();
    void filterRules();
    void duplicateAppendMakesOneRow();
    void removeKeepsRowsFoundByPath();
    void stateChangeUnderFilter();
    void selectPathEmitsNothing();
    void userClickEmitsPath();
    void contextMenu_data();
    void contextMenu();
    void contextMenuOnEmptySpace();
    void thumbnailsKeepOnlyDrawnPixels_data();
    void thumbnailsKeepOnlyDrawnPixels();
    void thumbnailForUnlistedPathOnlyFillsCache();
    void thumbnailsFollowTheView();
    void tenThousandRows();
    void namesOfASeriesStayApart_data();
    void namesOfASeriesStayApart();
    void widthFollowsTheWindow();
    void filterBarFitsInEveryLanguage_data();
    void filterBarFitsInEveryLanguage();
    void renders_data();
    void renders();
};

void TestFileListPanel::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestFileListPanel::init()
{
    setLanguage(QStringLiteral("zh_CN"));
}

void TestFileListPanel::filterRules_data()
{
    QTest::addColumn<int>("confirmed");
    QTest::addColumn<int>("pending");
    QTest::addColumn<bool>("background");   // checked and empty: a label file without objects
    // Shown under 全部, 未标注, ⚡待确认, 完成, 背景.
    QTest::addColumn<QList<bool>>("shown");
    QTest::newRow("nothing yet") << 0 << 0 << false << QList<bool>{true, true, false, false, false};
    QTest::newRow("pending results only") << 0 << 2 << false << QList<bool>{true, true, true, false, false};
    QTest::newRow("labelled") << 3 << 0 << false << QList<bool>{true, false, false, true, false};
    QTest::newRow("labelled with pending results") << 1 << 1 << false << QList<bool>{true, false, true, false, false};
    QTest::newRow("background: checked, done, not unlabelled")
        << 0 << 0 << true << QList<bool>{true, false, false, true, true};
    QTest::newRow("background with pending results") << 0 << 1 << true << QList<bool>{true, false, true, false, true};
}

void TestFileListPanel::filterRules()
{
    QFETCH(int, confirmed);
    QFETCH(int, pending);
    QFETCH(bool, background);
    QFETCH(QList<bool>, shown);

    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths({QStringLiteral("/ds/a.jpg"), QStringLiteral("/ds/b.jpg")});
    panel.setDirectory(QStringLiteral("/ds"));
    panel.updateCounts();
    panel.setFileState(QStringLiteral("/ds/a.jpg"), confirmed, pending, false, background);
    QListWidget *list = listOf(panel);
    for (int filter = 0; filter < FileListPanel::FilterCount; ++filter) {
        clickFilter(panel, filter);
        QCOMPARE(panel.isShown(QStringLiteral("/ds/a.jpg")), shown.at(filter));
        QCOMPARE(panel.wouldShow(QStringLiteral("/ds/a.jpg")), shown.at(filter));
        // A path whose row has not come yet: judged as a new row, with nothing known of it.
        QVERIFY(!panel.isShown(QStringLiteral("/ds/c.jpg")));
        QCOMPARE(panel.wouldShow(QStringLiteral("/ds/c.jpg")), filter <= 1);
        QCOMPARE(list->isRowHidden(0), !shown.at(filter));
        const int expectedCount = int(shown.at(filter)) + int(filter <= 1);   // b.jpg has no labels
        QCOMPARE(panel.shownCount(), expectedCount);
        QCOMPARE(panel.footerText(), QStringLiteral("ds · %1 张").arg(expectedCount));
    }
    QCOMPARE(list->count(), 2);   // filtering hides, never removes
}

void TestFileListPanel::duplicateAppendMakesOneRow()
{
    FileListPanel panel;
    panel.beginLoading();
    QCOMPARE(panel.footerText(), QStringLiteral("加载中…"));
    panel.appendPaths(paths(QStringLiteral("/ds"), 0, 3));
    QCOMPARE(panel.footerText(), QStringLiteral("加载中 3…"));
    panel.appendPaths(paths(QStringLiteral("/ds"), 2, 5));   // overlapping chunk
    QCOMPARE(panel.rowCount(), 5);
    QCOMPARE(panel.footerText(), QStringLiteral("加载中 5…"));
    QListWidget *list = listOf(panel);
    QCOMPARE(list->item(2)->text(), QStringLiteral("img2.jpg"));
    QCOMPARE(list->item(3)->data(FileRole::Path).toString(), QStringLiteral("/ds/img3.jpg"));
    panel.setDirectory(QStringLiteral("/data/ds"));
    panel.updateCounts();
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 5 张"));

    setLanguage(QStringLiteral("en"));
    panel.retranslate();
    QCOMPARE(panel.footerText(), translateText("%1 · %2 张").arg(QStringLiteral("ds")).arg(5));
    QVERIFY(filterButton(panel, translateText("⚡待确认")));

    // A new directory starts empty again.
    panel.beginLoading();
    QCOMPARE(panel.rowCount(), 0);
    QVERIFY(!panel.isShown(QStringLiteral("/ds/img0.jpg")));
}

void TestFileListPanel::removeKeepsRowsFoundByPath()
{
    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths(paths(QStringLiteral("/ds"), 0, 5));
    panel.setDirectory(QStringLiteral("/ds"));
    panel.updateCounts();
    panel.removePath(QStringLiteral("/ds/img2.jpg"));
    panel.removePath(QStringLiteral("/ds/missing.jpg"));
    QCOMPARE(panel.rowCount(), 4);
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 4 张"));

    // The former fourth and fifth rows moved up and are still found by path.
    panel.setFileState(QStringLiteral("/ds/img3.jpg"), 4, 0, false);
    panel.setFileState(QStringLiteral("/ds/img4.jpg"), 0, 1, true);
    QListWidget *list = listOf(panel);
    QCOMPARE(list->item(2)->data(FileRole::Path).toString(), QStringLiteral("/ds/img3.jpg"));
    QCOMPARE(list->item(2)->data(FileRole::Confirmed).toInt(), 4);
    QCOMPARE(list->item(3)->data(FileRole::Pending).toInt(), 1);
    QCOMPARE(list->item(3)->data(FileRole::Failed).toBool(), true);
    QCOMPARE(list->item(1)->data(FileRole::Confirmed).toInt(), 0);
    panel.selectPath(QStringLiteral("/ds/img4.jpg"), true);
    QCOMPARE(list->currentRow(), 3);

    // Removing a hidden row keeps the count of shown rows right.
    clickFilter(panel, FileListPanel::DoneFiles);
    QCOMPARE(panel.shownCount(), 1);
    panel.removePath(QStringLiteral("/ds/img0.jpg"));
    QCOMPARE(panel.shownCount(), 1);
    panel.removePath(QStringLiteral("/ds/img3.jpg"));
    QCOMPARE(panel.shownCount(), 0);
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 0 张"));
    QCOMPARE(panel.rowCount(), 2);
}

void TestFileListPanel::stateChangeUnderFilter()
{
    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths(paths(QStringLiteral("/ds"), 0, 3));
    panel.setDirectory(QStringLiteral("/ds"));
    panel.updateCounts();
    panel.setFileState(QStringLiteral("/ds/img0.jpg"), 2, 0, false);
    panel.setFileState(QStringLiteral("/ds/img1.jpg"), 2, 1, false);
    clickFilter(panel, FileListPanel::DoneFiles);
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 1 张"));
    QListWidget *list = listOf(panel);
    QVERIFY(list->isRowHidden(1));

    // Confirming the last pending result makes the row appear.
    panel.setFileState(QStringLiteral("/ds/img1.jpg"), 3, 0, false);
    QVERIFY(!list->isRowHidden(1));
    QVERIFY(panel.isShown(QStringLiteral("/ds/img1.jpg")));
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 2 张"));

    // A new model result hides it again.
    panel.setFileState(QStringLiteral("/ds/img1.jpg"), 3, 2, false);
    QVERIFY(list->isRowHidden(1));
    QCOMPARE(panel.footerText(), QStringLiteral("ds · 1 张"));

    // Unknown paths change nothing.
    panel.setFileState(QStringLiteral("/elsewhere/img1.jpg"), 5, 0, false);
    QCOMPARE(panel.shownCount(), 1);
}

void TestFileListPanel::selectPathEmitsNothing()
{
    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths(paths(QStringLiteral("/ds"), 0, 50));
    panel.resize(220, 300);
    panel.show();
    QSignalSpy changed(&panel, &FileListPanel::currentPathChanged);
    panel.selectPath(QStringLiteral("/ds/img40.jpg"), true);
    panel.selectPath(QStringLiteral("/ds/unknown.jpg"), true);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(panel.currentPath(), QStringLiteral("/ds/img40.jpg"));
    QListWidget *list = listOf(panel);
    QVERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(40))));
}

void TestFileListPanel::userClickEmitsPath()
{
    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths(paths(QStringLiteral("/ds"), 0, 4));
    panel.resize(220, 300);
    panel.show();
    QSignalSpy changed(&panel, &FileListPanel::currentPathChanged);
    QListWidget *list = listOf(panel);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("/ds/img2.jpg"));
    // Starting a new directory clears the list without telling anyone.
    panel.beginLoading();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(panel.currentPath(), QString());
}

void TestFileListPanel::contextMenu_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("autoLabelRequests");
    QTest::addColumn<int>("deleteRequests");
    const QString unixPath = QStringLiteral("/data/ds/a.jpg");
    QTest::newRow("auto-label") << "自动标注" << unixPath << "" << 1 << 0;
    QTest::newRow("delete") << "删除" << unixPath << "" << 0 << 1;
    QTest::newRow("copy name") << "复制文件名" << unixPath << "a.jpg" << 0 << 0;
#ifdef Q_OS_WIN
    QTest::newRow("copy path") << "复制文件路径" << "C:/ds/a.jpg" << "C:\\ds\\a.jpg" << 0 << 0;
#else
    QTest::newRow("copy path") << "复制文件路径" << unixPath << unixPath << 0 << 0;
#endif
}

void TestFileListPanel::contextMenu()
{
    QFETCH(QString, entry);
    QFETCH(QString, path);
    QFETCH(QString, clipboard);
    QFETCH(int, autoLabelRequests);
    QFETCH(int, deleteRequests);

    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths({QStringLiteral("/data/ds/0.jpg"), path});
    panel.resize(220, 300);
    panel.show();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QSignalSpy changed(&panel, &FileListPanel::currentPathChanged);
    QSignalSpy autoLabel(&panel, &FileListPanel::fileAutoLabelRequested);
    QSignalSpy remove(&panel, &FileListPanel::fileDeleteRequested);

    QListWidget *list = listOf(panel);
    bool icon = false;
    const QStringList entries = runContextMenu(panel, list->visualItemRect(list->item(1)).center(),
                                               translateText(entry.toUtf8().constData()), &icon);
    QCOMPARE(entries, (QStringList{"自动标注", "", "删除", "复制文件名", "复制文件路径", "", "在文件浏览器中打开"}));
    QVERIFY(icon);
    // The row under the pointer became current first, as any current-row change.
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), path);
    QCOMPARE(autoLabel.count(), autoLabelRequests);
    QCOMPARE(remove.count(), deleteRequests);
    if (autoLabelRequests)
        QCOMPARE(autoLabel.at(0).at(0).toString(), path);
    if (deleteRequests)
        QCOMPARE(remove.at(0).at(0).toString(), path);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard.isEmpty() ? QStringLiteral("before") : clipboard);
}

void TestFileListPanel::contextMenuOnEmptySpace()
{
    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths({QStringLiteral("/ds/a.jpg")});
    panel.resize(220, 300);
    panel.show();
    QSignalSpy changed(&panel, &FileListPanel::currentPathChanged);
    QListWidget *list = listOf(panel);
    const QPoint below(40, list->visualItemRect(list->item(0)).bottom() + 60);
    const QStringList entries = runContextMenu(panel, below, QString());
    QVERIFY(entries.isEmpty());
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(changed.count(), 0);
}

void TestFileListPanel::thumbnailsKeepOnlyDrawnPixels_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::newRow("same shape as the frame") << QSize(600, 440);
    QTest::newRow("wide photo") << QSize(1600, 900);
    QTest::newRow("portrait photo") << QSize(300, 400);
    QTest::newRow("smaller than the frame") << QSize(20, 10);
}

void TestFileListPanel::thumbnailsKeepOnlyDrawnPixels()
{
    QFETCH(QSize, imageSize);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.png"));
    writeImage(path, imageSize);

    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths({path});
    panel.resize(220, 300);
    panel.show();
    panel.requestThumbnails({path});
    QTRY_VERIFY(panel.thumbnails().contains(path));
    const QPixmap pixmap = panel.thumbnails().value(path);
    const qreal dpr = listOf(panel)->devicePixelRatioF();
    const QSize box = (QSizeF(30, 22) * dpr).toSize();
    // Fits the frame at the screen's pixel density, touching it on one side...
    QVERIFY2(pixmap.width() <= box.width() && pixmap.height() <= box.height(),
             qPrintable(QStringLiteral("%1x%2").arg(pixmap.width()).arg(pixmap.height())));
    // ...and already carries the ratio at which it is drawn, so painting does not resample.
    const qreal ratio = std::max(pixmap.width() / 30.0, pixmap.height() / 22.0);
    QCOMPARE(pixmap.devicePixelRatio(), ratio);
    if (imageSize.width() >= 60)
        QCOMPARE(ratio, dpr);
    QVERIFY(pixmap.toImage().sizeInBytes() <= qsizetype(box.width()) * box.height() * 4);
    panel.stopThumbnails();
}

void TestFileListPanel::thumbnailForUnlistedPathOnlyFillsCache()
{
    QTemporaryDir dir;
    const QString listed = dir.filePath(QStringLiteral("a.png"));
    const QString gone = dir.filePath(QStringLiteral("b.png"));
    writeImage(listed, QSize(120, 88));
    writeImage(gone, QSize(120, 88));

    FileListPanel panel;
    panel.beginLoading();
    panel.appendPaths({listed, gone});
    panel.removePath(gone);
    panel.resize(220, 300);
    panel.show();
    panel.requestThumbnails({listed, gone});
    QTRY_COMPARE(panel.thumbnails().size(), 2);
    QCOMPARE(panel.rowCount(), 1);
    QVERIFY(!panel.isShown(gone));
    // A second request decodes nothing that is already held.
    panel.requestThumbnails({listed, gone});
    panel.stopThumbnails();
    QCOMPARE(panel.thumbnails().size(), 2);
    panel.beginLoading();
    QVERIFY(panel.thumbnails().isEmpty());
}

void TestFileListPanel::thumbnailsFollowTheView()
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 300; ++i) {
        files.append(dir.filePath(QStringLiteral("f%1.png").arg(i, 3, 10, QLatin1Char('0'))));
        writeImage(files.last(), QSize(16, 12));
    }
    FileListPanel panel;
    QSignalSpy passes(&panel, &FileListPanel::thumbnailsFinished);
    panel.resize(220, 300);
    panel.show();
    panel.beginLoading();
    panel.appendPaths(files);
    panel.updateCounts();
    panel.followViewWithThumbnails();
    QTRY_VERIFY(!passes.isEmpty());
    // The rows in view and a page around them, not the whole folder.
    QVERIFY(panel.thumbnails().contains(files.first()));
    QVERIFY2(panel.thumbnails().size() < 60, qPrintable(QString::number(panel.thumbnails().size())));
    QVERIFY(!panel.thumbnails().contains(files.last()));
    panel.selectPath(files.last(), true);
    QTRY_VERIFY(panel.thumbnails().contains(files.last()));
    QVERIFY(!panel.thumbnails().contains(files.at(150)));
}

void TestFileListPanel::tenThousandRows()
{
    FileListPanel panel;
    panel.resize(220, 700);
    panel.show();
    QElapsedTimer timer;
    timer.start();
    panel.beginLoading();
    clickFilter(panel, FileListPanel::DoneFiles);   // the hardest case: every row arrives hidden
    for (int from = 0; from < 10000; from += 400)
        panel.appendPaths(paths(QStringLiteral("/big"), from, from + 400));
    panel.setDirectory(QStringLiteral("/big"));
    panel.updateCounts();
    QCOMPARE(panel.shownCount(), 0);
    for (int i = 0; i < 10000; ++i)
        panel.setFileState(QStringLiteral("/big/img%1.jpg").arg(i), i % 3, i % 2, false);
    for (int filter : {0, 1, 2, 3, 0})
        clickFilter(panel, filter);
    for (int i = 0; i < 100; ++i)
        panel.removePath(QStringLiteral("/big/img%1.jpg").arg(i * 7));
    QCoreApplication::processEvents();
    const qint64 elapsed = timer.elapsed();
    qInfo("10,000 rows: listed, stated, filtered five times and 100 removed in %lld ms", elapsed);
    QCOMPARE(panel.rowCount(), 9900);
    QCOMPARE(panel.footerText(), QStringLiteral("big · 9900 张"));
    clickFilter(panel, FileListPanel::DoneFiles);
    int done = 0;
    for (int i = 0; i < 10000; ++i)
        done += (i % 7 != 0 || i / 7 >= 100) && i % 3 > 0 && i % 2 == 0;
    QCOMPARE(panel.shownCount(), done);
    // Generous: a per-row search or a rebuild per change would take minutes, not seconds.
    QVERIFY2(elapsed < 15000, qPrintable(QString::number(elapsed)));
}

void TestFileListPanel::filterBarFitsInEveryLanguage_data()
{
    QTest::addColumn<QString>("code");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first;
}

void TestFileListPanel::filterBarFitsInEveryLanguage()
{
    QFETCH(QString, code);
    setLanguage(code);
    FileListPanel panel;
    panel.resize(220, 400);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(panel.width(), 220);
    for (const char *text : kFilterTexts) {
        QToolButton *button = filterButton(panel, translateText(text));
        QVERIFY(button);
        // Neither squeezed below its text and padding nor pushed out of the panel.
        QVERIFY2(button->width() >= button->fontMetrics().horizontalAdvance(button->text()) + 10,
                 qPrintable(button->text()));
        QVERIFY2(button->geometry().right() < panel.width() - 6,
                 qPrintable(QStringLiteral("%1 ends at %2").arg(button->text()).arg(button->geometry().right())));
    }
}

void TestFileListPanel::renders_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "zh_CN";
    QTest::newRow("English") << "en";
}

void TestFileListPanel::renders()
{
    QFETCH(QString, language);
    setLanguage(language);

    QTemporaryDir dir;
    const QStringList names = {"street_0001.jpg", "street_0002.jpg", "a_rather_long_file_name_from_camera_DSC01234.jpg",
                               "street_0004.jpg", "street_0005.jpg", "street_0006.jpg", "street_0007.jpg"};
    const QList<QSize> sizes = {{640, 480}, {1600, 900}, {300, 400}, {500, 500}, {640, 480}, {640, 480}, {900, 600}};
    QStringList files;
    for (int i = 0; i < names.size(); ++i) {
        files << dir.filePath(names.at(i));
        QImage image(sizes.at(i), QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 47 % 360, 120, 200));
        QPainter p(&image);
        p.fillRect(QRect(QPoint(0, image.height() * 2 / 3), image.size()), QColor(0x3F, 0xB2, 0x7F));
        p.end();
        QVERIFY(image.save(files.last()));
    }

    FileListPanel panel;
    panel.resize(220, 420);
    panel.show();
    panel.beginLoading();
    panel.appendPaths(files);
    panel.setDirectory(dir.path() + QStringLiteral("/wildlife_survey_2024"));
    panel.updateCounts();
    panel.setFileState(files[0], 3, 0, false);
    panel.setFileState(files[1], 0, 4, false);
    panel.setFileState(files[2], 12, 0, false);
    panel.setFileState(files[3], 0, 0, true);
    panel.setFileState(files[4], 2, 0, true);
    panel.setFileState(files[5], 1, 12, false);
    panel.setFileState(files[6], 0, 0, false, true);
    panel.requestThumbnails(files);
    QTRY_COMPARE(panel.thumbnails().size(), files.size());
    panel.selectPath(files[2], false);
    QListWidget *list = listOf(panel);
    QTest::mouseMove(list->viewport(), list->visualItemRect(list->item(4)).center());
    QCoreApplication::processEvents();
    const QImage shot = panel.grab().toImage();
    QCOMPARE(shot.size(), QSize(220, 420) * shot.devicePixelRatio());
    // The selected row is painted in the selection colour.
    const QRect selected = list->visualItemRect(list->item(2)).translated(list->viewport()->mapTo(&panel, QPoint()));
    QCOMPARE(shot.pixelColor(QPoint(selected.right() - 60, selected.top() + 3) * shot.devicePixelRatio()),
             QColor(0x1C, 0x3A, 0x63));
    // A background image carries a green check mark where a count would be.
    const QRect checked = list->visualItemRect(list->item(6)).translated(list->viewport()->mapTo(&panel, QPoint()));
    int green = 0;
    for (int x = checked.right() - 34; x < checked.right() - 8; ++x) {
        for (int y = checked.top(); y < checked.bottom(); ++y) {
            const QColor c = shot.pixelColor(QPoint(x, y) * shot.devicePixelRatio());
            green += c.green() > 140 && c.red() < 110 && c.blue() < 160;
        }
    }
    QVERIFY2(green >= 6, qPrintable(QString::number(green)));
    saveRender(shot, QStringLiteral("filelistpanel_%1.png").arg(language));
    panel.stopThumbnails();
}

// Names of one series differ in their numbers: a row beside a badge cuts the end, not the middle,
// and the tooltip holds the whole name.
void TestFileListPanel::namesOfASeriesStayApart_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("width");
    QTest::newRow("street photos beside a badge")
        << QStringList{"IMG_2301_street_crossing.jpg", "IMG_2306_street_crossing.jpg"} << 110;
    QTest::newRow("video frames") << QStringList{"clip_0001_frame_000120.png", "clip_0002_frame_000120.png"} << 100;
}

void TestFileListPanel::namesOfASeriesStayApart()
{
    QFETCH(QStringList, names);
    QFETCH(int, width);

    FileListPanel panel;
    QStringList paths;
    for (const QString &name : names)
        paths.append(QStringLiteral("/data/") + name);
    panel.appendPaths(paths);
    const QFontMetrics metrics(panel.font());
    QStringList shown;
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(listOf(panel)->item(i)->data(Qt::ToolTipRole).toString(), names.at(i));
        const QString text = FileDelegate::shownName(metrics, names.at(i), width);
        QVERIFY2(text != names.at(i), "the name should not fit, or the row proves nothing");
        shown.append(text);
    }
    QVERIFY2(shown.first() != shown.last(), qPrintable(shown.join(QLatin1String(" | "))));
}

// The window's splitter sets the width: the panel is no longer fixed at 220.
void TestFileListPanel::widthFollowsTheWindow()
{
    FileListPanel panel;
    QCOMPARE(panel.minimumWidth(), FileListPanel::MinimumWidth);
    QCOMPARE(panel.maximumWidth(), FileListPanel::MaximumWidth);
    panel.resize(360, 400);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(panel.width(), 360);
    panel.setDirectory(QStringLiteral("/data/a_rather_long_folder_name_for_a_survey"));
    panel.updateCounts();
    // The footer uses the room it has.
    QVERIFY2(panel.footerText().contains(QStringLiteral("a_rather_long_folder_name_for_a_survey")),
             qPrintable(panel.footerText()));
}

BRINDLE_TEST_MAIN(TestFileListPanel)
#include "tst_filelistpanel.moc"
