#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "ui/mainstatusbar.h"
#include "ui/toastwidget.h"
#include "ui/windowactions.h"
#include "ui/windowfit.h"
#include "ui/windowsettings.h"

#include "stylesheet.h"
#include "testmain.h"
#include "mainwindowfixture.h"
#include "windowfixture.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

using namespace WindowFixture;

// The window as a frame around the work: the hint that names the mode, the cursor's pixel, the
// fit that follows the window's size, the place kept in each folder.
class TestWindowFrame : public QObject, private MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void canvasHintNamesTheMode_data();
    void canvasHintNamesTheMode();
    void cursorCoordinatesClearOnImageChange();
    void firstImageFitsTheFinalWindowSize();
    void reopenedFolderStartsWhereLeft_data();
    void reopenedFolderStartsWhereLeft();
    void placesRememberedForBoundedFolders();
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void expectedCanvasFitsTheLayout_data();
    void expectedCanvasFitsTheLayout();
};

void TestWindowFrame::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestWindowFrame::init()
{
    prepareDataset();
}

void TestWindowFrame::cleanup()
{
    m_tmp.reset();
}

void TestWindowFrame::canvasHintNamesTheMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("neverSays");
    QTest::addColumn<QString>("digitToast");   // after 1 chose the next shape's category
    QTest::newRow("box") << "box" << QStringLiteral("拖拽画框")
                         << QStringList{QStringLiteral("加点"), QStringLiteral("拖拽选择")}
                         << QStringLiteral("下一个框的类别：cat");
    QTest::newRow("polygon") << "polygon" << QStringLiteral("点击加点画多边形")
                             << QStringList{QStringLiteral("画框"), QStringLiteral("拖拽选择")}
                             << QStringLiteral("下一个多边形的类别：cat");
    QTest::newRow("select") << "select" << QStringLiteral("点击或拖拽选择")
                            << QStringList{QStringLiteral("画框"), QStringLiteral("加点")}
                            << QStringLiteral("下一个形状的类别：cat");
}

// The hint names what a drag does in the mode the user is in.
void TestWindowFrame::canvasHintNamesTheMode()
{
    QFETCH(QString, mode);
    QFETCH(QString, says);
    QFETCH(QStringList, neverSays);
    QFETCH(QString, digitToast);
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QAction *action = mode == "box" ? window->actions().rectMode
        : mode == "polygon"         ? window->actions().polyMode
                                    : window->actions().editMode;
    action->trigger();
    const QString hint = window->findChild<QLabel *>(QStringLiteral("canvasHint"))->text();
    QVERIFY2(hint.contains(says), qPrintable(hint));
    for (const QString &word : neverSays)
        QVERIFY2(!hint.contains(word), qPrintable(hint));
    window->scene()->clearSelection();
    window->view()->setFocus();
    QTest::keyClick(window->view(), Qt::Key_1);
    QCOMPARE(window->toast()->text(), digitToast);
}

void TestWindowFrame::cursorCoordinatesClearOnImageChange()
{
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    CanvasView *view = window->view();
    const QPoint inside = view->mapFromScene(QPointF(5, 5));
    QTest::mouseMove(view->viewport(), inside);
    QTRY_COMPARE(window->statusPanel()->cursorText(), QStringLiteral("(5, 5)"));
    window->stepImage(1);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    QCOMPARE(window->statusPanel()->cursorText(), QStringLiteral("--"));
}

// A window that grows after its first image was fitted (a maximised start) fits it again.
void TestWindowFrame::firstImageFitsTheFinalWindowSize()
{
    auto window = std::make_unique<MainWindow>(m_dir);
    window->resize(700, 500);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->view()->fitPending());
    const double small = window->view()->zoomFactor();
    window->resize(1400, 1000);
    QTRY_VERIFY(window->view()->zoomFactor() > small * 1.5);
    // Filling the view: the image's larger side spans it but for the 40 pixels each side.
    const QSize image = window->currentImageSize();
    const QSize viewport = window->view()->viewport()->size();
    const double k = window->view()->zoomFactor();
    QVERIFY(qAbs(image.width() * k - (viewport.width() - 80)) < 2 || qAbs(image.height() * k - (viewport.height() - 80)) < 2);
    // Zoomed by the user, a resize keeps the zoom.
    window->view()->zoomIn();
    const double chosen = window->view()->zoomFactor();
    const QSize before = window->view()->viewport()->size();
    window->resize(1000, 800);
    QTRY_VERIFY(window->view()->viewport()->size() != before);
    QCOMPARE(window->view()->zoomFactor(), chosen);
}

void TestWindowFrame::reopenedFolderStartsWhereLeft_data()
{
    QTest::addColumn<QString>("how");       // how the user comes back
    QTest::addColumn<int>("expected");      // the image shown then
    QTest::newRow("another folder and back") << "back" << 2;
    QTest::newRow("from the recent folders after a restart") << "restart" << 2;
    QTest::newRow("the image was deleted meanwhile") << "deleted" << 0;
    QTest::newRow("an image path given wins") << "imagePath" << 3;
}

// Coming back to a folder goes on at the image the user left it on.
void TestWindowFrame::reopenedFolderStartsWhereLeft()
{
    QFETCH(QString, how);
    QFETCH(int, expected);
    const QString other = m_tmp->path() + QStringLiteral("/other");
    const QStringList otherImages = makeImages(other, 1);
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QVERIFY(window->showImage(m_images.at(2)));
    if (how == "back") {
        window->openDirectory(other);
        QVERIFY(waitForImage(*window, otherImages.at(0)));
        window->openDirectory(m_dir);
    } else {
        QVERIFY(window->close());
        window.reset();
        if (how == "deleted")
            QVERIFY(QFile::remove(m_images.at(2)));
        window = openWindow(how == "imagePath" ? m_images.at(3) : m_dir);
        QVERIFY(window);
    }
    QVERIFY2(waitForImage(*window, m_images.at(expected)), qPrintable(window->currentImagePath()));
    QTRY_VERIFY(!window->session()->isListing());
    QCOMPARE(window->currentImagePath(), m_images.at(expected));
}

void TestWindowFrame::placesRememberedForBoundedFolders()
{
    const QString base = m_tmp->path() + QStringLiteral("/many/");
    for (int i = 0; i <= WindowSettings::kMaxFolderPlaces; ++i)
        WindowSettings::saveLastImage(base + QString::number(i), base + QString::number(i) + QStringLiteral("/a b.png"));
    QCOMPARE(WindowSettings::lastImageIn(base + QStringLiteral("0")), QString());
    QCOMPARE(WindowSettings::lastImageIn(base + QStringLiteral("1")), base + QStringLiteral("1/a b.png"));
    // Leaving a folder again moves it to the front instead of adding it twice.
    WindowSettings::saveLastImage(base + QStringLiteral("1"), base + QStringLiteral("1/c.png"));
    WindowSettings::saveLastImage(base + QStringLiteral("x"), base + QStringLiteral("x/d.png"));
    QCOMPARE(WindowSettings::lastImageIn(base + QStringLiteral("1")), base + QStringLiteral("1/c.png"));
    QCOMPARE(WindowSettings::lastImageIn(base + QStringLiteral("2")), QString());
    const QStringList stored = QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
                                   .value(QStringLiteral("lastImages")).toStringList();
    QCOMPARE(stored.size(), 2 * WindowSettings::kMaxFolderPlaces);
}

void TestWindowFrame::windowFitsTheScreen_data()
{
    QTest::addColumn<QSize>("available");   // the screen's area for windows
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<bool>("maximized");
    QTest::newRow("desktop 1920x1080") << QSize(1920, 1080) << QSize(1280, 800) << QSize(1100, 700) << false;
    QTest::newRow("laptop 1280x800") << QSize(1280, 800) << QSize(1264, 760) << QSize(1100, 700) << true;
    QTest::newRow("laptop 1366x768") << QSize(1366, 768) << QSize(1280, 728) << QSize(1100, 700) << true;
    QTest::newRow("1366x768 with a 40-pixel panel") << QSize(1366, 728) << QSize(1280, 688) << QSize(1100, 688)
                                                    << true;
    QTest::newRow("small 1024x600") << QSize(1024, 600) << QSize(1008, 560) << QSize(1008, 560) << true;
}

// The window and its frame stay inside the screen: a 1280x800 window with a title bar above it
// would push the status bar off a 1280x800 screen.
void TestWindowFrame::windowFitsTheScreen()
{
    QFETCH(QSize, available);
    QFETCH(QSize, size);
    QFETCH(QSize, minimum);
    QFETCH(bool, maximized);
    const WindowFit fit = fitWindowTo(available);
    QCOMPARE(fit.size, size);
    QCOMPARE(fit.minimum, minimum);
    QCOMPARE(fit.maximized, maximized);
    QVERIFY(fit.minimum.width() <= fit.size.width() && fit.minimum.height() <= fit.size.height());
}

void TestWindowFrame::expectedCanvasFitsTheLayout_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("fileListWidth");
    QTest::newRow("1280x800") << QSize(1280, 800) << 220;
    QTest::newRow("1920x1080, a wide file list") << QSize(1920, 1080) << 360;
    QTest::newRow("1366x728") << QSize(1366, 728) << 220;
}

// The first image is decoded for the canvas expected before the window is laid out: a guess that
// falls short of the laid-out canvas has it decoded again, one far over it decodes too much.
void TestWindowFrame::expectedCanvasFitsTheLayout()
{
    QFETCH(QSize, window);
    QFETCH(int, fileListWidth);
    WindowSettings::saveFileListWidth(fileListWidth);
    auto shown = std::make_unique<MainWindow>(QString());
    shown->setMinimumSize(QSize(1, 1));
    shown->resize(window);
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
    QTRY_COMPARE(shown->size(), window);
    const QSize laidOut = shown->view()->size() - QSize(80, 80);
    const QSize expected = expectedFitArea(window, fileListWidth);
    const QString sizes = QStringLiteral("expected %1x%2, laid out %3x%4")
                              .arg(expected.width()).arg(expected.height()).arg(laidOut.width()).arg(laidOut.height());
    QVERIFY2(expected.width() * 10 >= laidOut.width() * 9 && expected.height() * 10 >= laidOut.height() * 9, qPrintable(sizes));
    QVERIFY2(expected.width() * 10 <= laidOut.width() * 11 && expected.height() * 10 <= laidOut.height() * 11, qPrintable(sizes));
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowFrame)
#include "tst_windowframe.moc"
