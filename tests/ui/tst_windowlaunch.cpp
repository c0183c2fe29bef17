#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "session/foldersession.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "storage/pendingfile.h"
#include "ui/filelistpanel.h"
#include "ui/windowsettings.h"

#include "../storage/storagefixtures.h"
#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"
#include "mainwindowfixture.h"

#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>

// The window's launch: what waits until the first image is painted still happens, in its place.
class TestWindowLaunch : public QObject, private MainWindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void stepBeforeTheRestIsListed_data();
    void stepBeforeTheRestIsListed();
    void largePendingFileJoinsFirstImage_data();
    void largePendingFileJoinsFirstImage();
    void firstImageDecodedWhileBuilt_data();
    void firstImageDecodedWhileBuilt();
};

namespace {

// The timing log's lines while alive.
class TimingCapture
{
public:
    TimingCapture()
    {
        s_lines.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("brindlemark.timing.debug=true"));
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
            if (context.category && QByteArray(context.category) == "brindlemark.timing")
                s_lines.append(text);
        });
    }
    ~TimingCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    static int count(const QString &line) { return int(s_lines.filter(line).size()); }

private:
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

void TestWindowLaunch::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestWindowLaunch::init()
{
    prepareDataset();
}

void TestWindowLaunch::cleanup()
{
    m_tmp.reset();
}

void TestWindowLaunch::stepBeforeTheRestIsListed_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("firstInOrder");   // else the first image read is shown first
    QTest::newRow("more than the first chunk: the first in order, before the sort")
        << DirectoryLoader::kEarlyFirstAbove + 1 << true;
    QTest::newRow("very many: the first read, before the rest is read") << DirectoryLoader::kFirstFoundAbove + 1 << false;
}

// A large folder shows an image before the others are sorted and listed; it takes its place in
// the list once sorted, and a step pressed meanwhile is taken then, not lost.
void TestWindowLaunch::stepBeforeTheRestIsListed()
{
    QFETCH(int, count);
    QFETCH(bool, firstInOrder);
    QTemporaryDir big;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "PNG"));
    for (int i = count - 1; i >= 0; --i)
        QVERIFY(Fixtures::writeBytes(big.filePath(QStringLiteral("f%1.png").arg(i, 5, 10, QLatin1Char('0'))), png));
    auto window = openWindow(big.path());
    QVERIFY(window);
    QVERIFY(QTest::qWaitFor([&] { return !window->currentImagePath().isEmpty(); }, 20000));
    const QString first = window->currentImagePath();
    if (firstInOrder)
        QCOMPARE(first, big.filePath(QStringLiteral("f00000.png")));
    QTest::keyClick(window.get(), Qt::Key_Right);
    const int at = first.mid(first.lastIndexOf(QLatin1Char('f')) + 1, 5).toInt();
    const QString next = big.filePath(QStringLiteral("f%1.png").arg((at + 1) % count, 5, 10, QLatin1Char('0')));
    QVERIFY2(QTest::qWaitFor([&] { return window->currentImagePath() == next; }, 20000),
             qPrintable(first + QStringLiteral(" -> ") + window->currentImagePath()));
    // Shown before the sort, the first image was placed where it belongs: the step went on from there.
    QTRY_COMPARE(window->fileList()->currentPath(), next);
    QCOMPARE(window->session()->indexOf(next), (at + 1) % count);
}

void TestWindowLaunch::largePendingFileJoinsFirstImage_data()
{
    QTest::addColumn<int>("otherImages");   // padding entries of images not in the folder
    QTest::newRow("small file: waited for") << 0;
    QTest::newRow("large file: read after the first paint") << 6000;
}

// However large the pending file, the first image ends up with its results as ⚡ shapes.
void TestWindowLaunch::largePendingFileJoinsFirstImage()
{
    QFETCH(int, otherImages);
    AnnotationCache pending;
    pending.insert(m_images.at(0), {box(QStringLiteral("cat"), QRectF(2, 2, 10, 8), 1, 0.9),
                                    box(QStringLiteral("dog"), QRectF(14, 4, 8, 8), 1, 0.8)});
    for (int i = 0; i < otherImages; ++i)
        pending.insert(m_dir + QStringLiteral("/gone_%1.png").arg(i),
                       {box(QStringLiteral("owl"), QRectF(1, 1, 5, 5), 1, 0.7),
                        box(QStringLiteral("owl"), QRectF(8, 8, 5, 5), 1, 0.7)});
    QVERIFY(writePendingFile(m_dir, pending));
    const qint64 size = QFileInfo(pendingFilePath(m_dir)).size();
    QVERIFY2(otherImages == 0 ? size < 512 * 1024 : size > 512 * 1024, qPrintable(QString::number(size)));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_COMPARE(window->scene()->pendingCount(), 2);
    QTRY_VERIFY(window->fileList()->isShown(m_images.at(0)));
    QCOMPARE(window->fileList()->currentPath(), m_images.at(0));
}

void TestWindowLaunch::firstImageDecodedWhileBuilt_data()
{
    QTest::addColumn<QString>("how");   // how the first image is known
    QTest::addColumn<int>("shown");
    QTest::newRow("the listing's first, told by its thread") << "listing" << 0;
    QTest::newRow("the image last shown there") << "remembered" << 2;
    QTest::newRow("an image given") << "given" << 3;
}

// The first image's pixels come from the decode started while the window was built: one decode,
// not a second one on the GUI thread once the window is shown.
void TestWindowLaunch::firstImageDecodedWhileBuilt()
{
    QFETCH(QString, how);
    QFETCH(int, shown);
    if (how == u"remembered")
        WindowSettings::saveLastImage(m_dir, m_images.at(shown));
    const QString expected = m_images.at(shown);
    TimingCapture log;
    auto window = openWindow(how == u"given" ? expected : m_dir);
    QVERIFY(window);
    QVERIFY2(waitForImage(*window, expected), qPrintable(window->currentImagePath()));
    QCOMPARE(log.count(QStringLiteral("image decoded at launch ") + expected), 1);
    QCOMPARE(log.count(QStringLiteral("image decoded here ")), 0);
    // Only the launch's first image: a folder opened later decodes as any step does.
    const QStringList other = WindowFixture::makeImages(m_tmp->path() + QStringLiteral("/other"), 2);
    window->openDirectory(QFileInfo(other.at(0)).absolutePath());
    QVERIFY(waitForImage(*window, other.at(0)));
    QCOMPARE(log.count(QStringLiteral("image decoded at launch ")), 1);
    QCOMPARE(log.count(QStringLiteral("image decoded here ") + other.at(0)), 1);
}

BRINDLE_TEST_MAIN(TestWindowLaunch)
#include "tst_windowlaunch.moc"
