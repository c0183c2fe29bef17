#include "storage/annotation.h"
#include "storage/directoryloader.h"
#include "storage/filestatescanner.h"
#include "storage/restartableworker.h"
#include "storage/thumbloader.h"

#include "storagefixtures.h"
#include "testmain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Counts to its input, one number each time the gate is open; obeys the stop flag only if told to.
class CountingWorker : public RestartableWorker<int>
{
    Q_OBJECT
public:
    explicit CountingWorker(bool obeysStop)
        : RestartableWorker([this](const int &n) { count(n); }, nullptr)
        , m_obeysStop(obeysStop)
    {
    }
    ~CountingWorker() override { stop(); }
    bool begin(int n, unsigned long waitMs = ULONG_MAX) { return restart(n, waitMs); }
    void open() { m_gate.store(true); }
    bool entered() const { return m_entered.load(); }

signals:
    void counted(int n);

private:
    void count(int n)
    {
        m_entered.store(true);
        for (int i = 0; i < n; ++i) {
            while (!m_gate.load() && !(m_obeysStop && stopRequested()))
                QThread::msleep(1);
            if (m_obeysStop && stopRequested())
                return;
        }
        emit counted(n);
    }

    const bool m_obeysStop;
    std::atomic<bool> m_gate{false};
    std::atomic<bool> m_entered{false};
};

class TestStorageWorkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void isImageFile_data();
    void isImageFile();
    void listing_data();
    void listing();
    void chunks_data();
    void chunks();
    void emptyDirectory();
    void namesThatAreNotUtf8();
    void supersededListing();
    void thumbTarget_data();
    void thumbTarget();
    void thumbnails();
    void thumbnailsOfPaletteImages_data();
    void thumbnailsOfPaletteImages();
    void thumbnailsOfLargeOneBitImages_data();
    void thumbnailsOfLargeOneBitImages();
    void thumbLoaderStopsAndRestarts();
    void states();
    void restartableWorker_data();
    void restartableWorker();

private:
    static QStringList names(const QStringList &paths);
};

QStringList TestStorageWorkers::names(const QStringList &paths)
{
    QStringList out;
    for (const QString &path : paths)
        out.append(QFileInfo(path).fileName());
    return out;
}

void TestStorageWorkers::initTestCase()
{
    registerAnnotationMetaTypes();
}

void TestStorageWorkers::isImageFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");
    QTest::newRow("tiff upper case") << "/x/photo.TIFF" << true;
    QTest::newRow("gif") << "/x/photo.gif" << false;
    QTest::newRow("jpeg mixed case") << "/x/a.JpEg" << true;
    QTest::newRow("webp") << "b.webp" << true;
    QTest::newRow("bmp") << "b.bmp" << true;
    QTest::newRow("tif") << "b.tif" << true;
    QTest::newRow("no suffix") << "/x/jpg" << false;
    QTest::newRow("suffix in the middle") << "/x/a.jpg.txt" << false;
}

void TestStorageWorkers::isImageFile()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(::isImageFile(path), expected);
}

void TestStorageWorkers::listing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("filters") << QStringList{"a.JPG", "b.png", "c.txt", "sub.jpg/", ".hidden.jpg", "d.gif"}
                             << QStringList{"a.JPG", "b.png"};
    QTest::newRow("numeric collation") << QStringList{"img10.jpg", "img1.jpg", "img2.jpg"}
                                       << QStringList{"img1.jpg", "img2.jpg", "img10.jpg"};
    QTest::newRow("case-insensitive") << QStringList{"B.jpg", "a.jpg", "C.png"} << QStringList{"a.jpg", "B.jpg", "C.png"};
    QTest::newRow("all seven types, both cases")
        << QStringList{"1.jpeg", "2.BMP", "3.webp", "4.TIF", "5.tiff", "6.Png", "7.jpg"}
        << QStringList{"1.jpeg", "2.BMP", "3.webp", "4.TIF", "5.tiff", "6.Png", "7.jpg"};
    QTest::newRow("digit runs inside names") << QStringList{"a2b10.jpg", "a2b9.jpg", "a10b1.jpg"}
                                             << QStringList{"a2b9.jpg", "a2b10.jpg", "a10b1.jpg"};
}

void TestStorageWorkers::listing()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    for (const QString &name : files) {
        if (name.endsWith('/'))
            QVERIFY(QDir().mkpath(tmp.path() + "/" + name));
        else
            QVERIFY(Fixtures::writeBytes(tmp.path() + "/" + name, "x"));
    }
    DirectoryLoader loader;
    QSignalSpy done(&loader, &DirectoryLoader::done);
    loader.load(tmp.path());
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.size(), 1);
    QCOMPARE(done[0][0].toString(), tmp.path());
    const QStringList all = done[0][1].toStringList();
    QCOMPARE(names(all), expected);
    for (const QString &path : all)
        QCOMPARE(path, tmp.path() + "/" + QFileInfo(path).fileName());
    QCOMPARE(DirectoryLoader::listImages(tmp.path()), all);
}

void TestStorageWorkers::chunks_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("sizes");   // of the chunks, in order
    QTest::addColumn<QString>("first");      // handed over ahead of the chunks; "?": any one
    // Known from the sorted list, still ahead of it: a window's launch starts decoding it.
    QTest::newRow("400: one chunk, its first ahead of it") << 400 << QList<int>{400} << "f0.jpg";
    // More than the first chunk: the first image is handed over before the sort.
    QTest::newRow("1,000: small first, then doubling") << 1000 << QList<int>{400, 600} << "f0.jpg";
    QTest::newRow("3,000") << 3000 << QList<int>{400, 800, 1600, 200} << "f0.jpg";
    // So many that the first one read comes, as soon as that many are read.
    QTest::newRow("20,001: the first read, ahead of the sort")
        << 20001 << QList<int>{400, 800, 1600, 3200, 3200, 3200, 3200, 3200, 1201} << "?";
}

void TestStorageWorkers::chunks()
{
    QFETCH(int, count);
    QFETCH(QList<int>, sizes);
    QFETCH(QString, first);
    QTemporaryDir tmp;
    // Written in an order unlike the listing's.
    for (int i = count - 1; i >= 0; --i)
        QVERIFY(Fixtures::writeBytes(tmp.path() + QString("/f%1.jpg").arg(i), ""));
    DirectoryLoader loader;
    QSignalSpy chunks(&loader, &DirectoryLoader::chunkReady);
    QSignalSpy found(&loader, &DirectoryLoader::firstFound);
    QSignalSpy done(&loader, &DirectoryLoader::done);
    loader.load(tmp.path());
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 60000);
    QCOMPARE(found.size(), 1);
    const QString path = found[0][1].toString();
    QVERIFY(done[0][1].toStringList().contains(path));
    if (first != u"?")
        QCOMPARE(path, tmp.path() + QLatin1Char('/') + first);
    QList<int> got;
    QStringList joined;
    for (const QList<QVariant> &chunk : std::as_const(chunks)) {
        QCOMPARE(chunk[0].toString(), tmp.path());
        got.append(int(chunk[1].toStringList().size()));
        joined += chunk[1].toStringList();
    }
    QCOMPARE(got, sizes);
    const QStringList all = done[0][1].toStringList();
    QCOMPARE(all, joined);
    QCOMPARE(all.size(), count);
    QCOMPARE(all.first(), tmp.path() + "/f0.jpg");
    QCOMPARE(all.at(2), tmp.path() + "/f2.jpg");
    QCOMPARE(all.last(), tmp.path() + QString("/f%1.jpg").arg(count - 1));
}

void TestStorageWorkers::emptyDirectory()
{
    QTemporaryDir tmp;
    DirectoryLoader loader;
    QSignalSpy chunks(&loader, &DirectoryLoader::chunkReady);
    QSignalSpy found(&loader, &DirectoryLoader::firstFound);
    QSignalSpy done(&loader, &DirectoryLoader::done);
    loader.load(tmp.path());
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(chunks.size(), 0);
    QCOMPARE(found.size(), 0);
    QCOMPARE(done[0][1].toStringList(), QStringList{});
}

void TestStorageWorkers::namesThatAreNotUtf8()
{
    // Listed under its decoded name, the file would not exist: every command said "decode failed".
    QTemporaryDir tmp;
    QVERIFY(Fixtures::makeImage(tmp.path() + "/good.png", 20, 10));
    const QByteArray png = Fixtures::readBytes(tmp.path() + "/good.png");
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(tmp.path()) + "/\xc4\xe9t\xe9.png", png));
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(tmp.path()) + "/\xe2\x82.jpg", png));   // cut off
    const QStringList escaped{tmp.path() + "/\\xC4\\xE9t\\xE9.png", tmp.path() + "/\\xE2\\x82.jpg"};

    QStringList undecodable;
    QCOMPARE(DirectoryLoader::listImages(tmp.path(), &undecodable), QStringList{tmp.path() + "/good.png"});
    QCOMPARE(undecodable, escaped);
    QCOMPARE(DirectoryLoader::undecodableEntry(tmp.path() + QStringLiteral("/\uFFFD\uFFFDt\uFFFD.png")), escaped.first());
    QCOMPARE(DirectoryLoader::undecodableEntry(tmp.path() + "/good.png"), QString());

    DirectoryLoader loader;
    QSignalSpy named(&loader, &DirectoryLoader::undecodableNames);
    QSignalSpy done(&loader, &DirectoryLoader::done);
    loader.load(tmp.path());
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done[0][1].toStringList(), QStringList{tmp.path() + "/good.png"});
    QCOMPARE(named.size(), 1);
    QCOMPARE(named[0][1].toStringList(), escaped);
}

void TestStorageWorkers::supersededListing()
{
    QTemporaryDir a;
    QTemporaryDir b;
    for (int i = 0; i < 2000; ++i)
        QVERIFY(Fixtures::writeBytes(a.path() + QString("/a%1.png").arg(i), ""));
    QVERIFY(Fixtures::writeBytes(b.path() + "/b.png", ""));

    DirectoryLoader loader;
    QSignalSpy chunks(&loader, &DirectoryLoader::chunkReady);
    QSignalSpy done(&loader, &DirectoryLoader::done);
    loader.load(a.path());
    loader.load(b.path()); // waits until A's run has stopped at a chunk boundary
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.size(), 1);
    QCOMPARE(done[0][0].toString(), b.path());
    QCOMPARE(names(done[0][1].toStringList()), QStringList{"b.png"});
    QCOMPARE(loader.dir(), b.path());
    int chunksOfA = 0;
    for (const QList<QVariant> &chunk : std::as_const(chunks))
        chunksOfA += chunk[0].toString() == a.path() ? 1 : 0;
    QVERIFY(chunksOfA < 5); // A never finished
    QCOMPARE(chunks.size(), chunksOfA + 1);
}

void TestStorageWorkers::thumbTarget_data()
{
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("4:3 photo") << QSize(4000, 3000) << QSize(60, 45);
    QTest::newRow("portrait") << QSize(3000, 4000) << QSize(60, 80);
    QTest::newRow("wide") << QSize(1000, 100) << QSize(440, 44);
    QTest::newRow("exactly the box") << QSize(60, 44) << QSize(60, 44);
    QTest::newRow("tiny upscaled") << QSize(6, 4) << QSize(66, 44);
    QTest::newRow("unknown size") << QSize() << QSize(60, 44);
    QTest::newRow("zero width") << QSize(0, 10) << QSize(60, 44);
    // Covering 60x44 at a strip's own aspect ratio would mean gigabytes (and a crash in the scaler).
    QTest::newRow("tall strip capped") << QSize(1, 1000000) << QSize(60, 1024);
    QTest::newRow("wide strip capped") << QSize(100000, 1) << QSize(1024, 44);
}

void TestStorageWorkers::thumbTarget()
{
    QFETCH(QSize, shown);
    QFETCH(QSize, expected);
    QCOMPARE(ThumbLoader::targetSize(shown), expected);
}

void TestStorageWorkers::thumbnails()
{
    QTemporaryDir tmp;
    const QString big = tmp.path() + "/big.jpg";
    const QString turned = tmp.path() + "/turned.jpg";
    const QString broken = tmp.path() + "/broken.png";
    const QString small = tmp.path() + "/small.png";
    QVERIFY(Fixtures::makeImage(big, 4000, 3000));
    QVERIFY(Fixtures::makeOrientedJpeg(turned, 400, 200, 6)); // shown 200x400
    QVERIFY(Fixtures::writeBytes(broken, "not an image"));
    QVERIFY(Fixtures::makeImage(small, 30, 20));

    ThumbLoader loader;
    QSignalSpy ready(&loader, &ThumbLoader::thumbReady);
    loader.restart({big, broken, turned, small});
    QTRY_VERIFY(loader.isFinished());
    QTRY_COMPARE(ready.size(), 3);
    QCOMPARE(ready[0][0].toString(), big);
    QCOMPARE(ready[0][1].value<QImage>().size(), QSize(60, 45));
    QCOMPARE(ready[1][0].toString(), turned);
    QCOMPARE(ready[1][1].value<QImage>().size(), QSize(60, 120));
    QCOMPARE(ready[2][0].toString(), small);
    QCOMPARE(ready[2][1].value<QImage>().size(), QSize(66, 44));
}

void TestStorageWorkers::thumbnailsOfPaletteImages_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("one bit per pixel") << int(QImage::Format_Mono);
    QTest::newRow("eight-bit palette") << int(QImage::Format_Indexed8);
}

void TestStorageWorkers::thumbnailsOfPaletteImages()
{
    // A flat colour must stay flat: a one-bit thumbnail scaled again by the file list was noise.
    QFETCH(int, format);
    QTemporaryDir tmp;
    QImage image(640, 480, QImage::Format(format));
    image.setColorTable({qRgb(0x4a, 0x6b, 0x8a), qRgb(0, 0, 0)});
    image.fill(0);
    const QString path = tmp.path() + "/flat.png";
    QVERIFY(image.save(path));
    const QImage thumb = ThumbLoader::decodeThumbnail(path);
    QVERIFY(thumb.format() != QImage::Format_Mono && thumb.format() != QImage::Format_Indexed8);
    const QImage small = thumb.scaled(QSize(29, 22), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    for (const QPoint p : {QPoint(0, 0), QPoint(14, 11), QPoint(28, 21)})
        QCOMPARE(QColor(small.pixel(p)), QColor(0x4a, 0x6b, 0x8a));
}

void TestStorageWorkers::thumbnailsOfLargeOneBitImages_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("thumbnail");
    // 96 MB in 32 bits: scaled in stripes, its box still where it is.
    QTest::newRow("6000 x 4000") << QSize(6000, 4000) << true;
    // 3.6 GB in 32 bits, and no reader shrinks a PNG while decoding: none is made in the background.
    QTest::newRow("30000 x 30000") << QSize(30000, 30000) << false;
}

void TestStorageWorkers::thumbnailsOfLargeOneBitImages()
{
    QFETCH(QSize, size);
    QFETCH(bool, thumbnail);
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/scan.png";
    QVERIFY(Fixtures::makeOneBitPng(path, size.width(), size.height()));
    const QImage thumb = ThumbLoader::decodeThumbnail(path);
    QCOMPARE(!thumb.isNull(), thumbnail);
    if (!thumbnail)
        return;
    QCOMPARE(thumb.size(), ThumbLoader::targetSize(size));
    QVERIFY(thumb.depth() == 32);
    const auto at = [&thumb](double fx, double fy) {
        return QColor(thumb.pixel(int(fx * thumb.width()), int(fy * thumb.height())));
    };
    QCOMPARE(at(0.1, 0.1), QColor(Qt::white));
    QCOMPARE(at(0.5, 0.45), QColor(Qt::black));
    QCOMPARE(at(0.9, 0.45), QColor(Qt::white));
}

void TestStorageWorkers::thumbLoaderStopsAndRestarts()
{
    QTemporaryDir tmp;
    QStringList many;
    for (int i = 0; i < 200; ++i) {
        const QString path = tmp.path() + QString("/p%1.png").arg(i);
        QVERIFY(Fixtures::makeImage(path, 320, 240));
        many.append(path);
    }
    ThumbLoader loader;
    QSignalSpy ready(&loader, &ThumbLoader::thumbReady);
    loader.restart(many);
    // The new pass starts once the old one has stopped: restart never waits for a decode.
    loader.restart({many.last()});
    QTRY_COMPARE(loader.paths(), QStringList{many.last()});
    QTRY_VERIFY(loader.isFinished());
    QTRY_VERIFY(!ready.isEmpty() && ready.last()[0].toString() == many.last());
    QVERIFY(ready.size() < many.size() + 1);

    loader.restart(many);
    loader.requestStop();
    QTRY_VERIFY(loader.isFinished());

    // Held while the user steps through images, then on.
    ready.clear();
    loader.holdFor(60000);
    loader.restart({many.first()});
    QTest::qWait(200);
    QVERIFY(ready.isEmpty());
    loader.holdFor(0);
    QTRY_COMPARE(ready.size(), 1);
}

void TestStorageWorkers::states()
{
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    const QStringList images{dir + "/none.png", dir + "/empty.png", dir + "/two.png", dir + "/voc.png",
                             dir + "/emptyvoc.png"};
    for (const QString &image : images)
        QVERIFY(Fixtures::makeImage(image, 20, 10));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/empty.txt", ""));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/two.txt", "0 0.5 0.5 0.1 0.1\n\n1 0.5 0.5 0.1 0.1\n"));
    QVERIFY(Fixtures::writeBytes(dir + "/annotations/voc.xml", "<annotation><object/><object/><object/></annotation>"));
    QVERIFY(Fixtures::writeBytes(dir + "/annotations/emptyvoc.xml",
                                 "<annotation verified=\"yes\"><size><width>20</width><height>10</height></size>"
                                 "</annotation>"));

    FileStateScanner scanner;
    QSignalSpy ready(&scanner, &FileStateScanner::stateReady);
    scanner.restart(images);
    QTRY_COMPARE(ready.size(), 5);
    const int expected[] = {0, 0, 2, 3, 0};
    // An empty label file is a background image, told apart from an image without one.
    const bool labelFile[] = {false, true, true, true, true};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(ready[i][0].toString(), images[i]);
        QCOMPARE(ready[i][1].toInt(), expected[i]);
        QCOMPARE(ready[i][2].toBool(), labelFile[i]);
    }
}

// The base of the worker threads: a run blocked at the gate while the owner restarts, stops or
// destroys the worker; then which runs reported their end.
void TestStorageWorkers::restartableWorker_data()
{
    QTest::addColumn<bool>("obeysStop");
    QTest::addColumn<int>("second");            // the input of a restart while the first run waits; 0: none
    QTest::addColumn<int>("waitMs");            // how long that restart waits; 0: as long as it takes
    QTest::addColumn<bool>("restarted");        // what it returns
    QTest::addColumn<QString>("then");          // "open" the gate, "stop" the run, "destroy" the worker
    QTest::addColumn<QList<int>>("finished");   // the runs that counted to their end

    QTest::newRow("a run ends") << true << 0 << 0 << false << "open" << QList<int>{3};
    QTest::newRow("restart stops the run under way") << true << 5 << 0 << true << "open" << QList<int>{5};
    QTest::newRow("a stopped run reports nothing") << true << 0 << 0 << false << "stop" << QList<int>();
    QTest::newRow("destroyed while running: stops and waits") << true << 0 << 0 << false << "destroy" << QList<int>();
    QTest::newRow("destroyed after a restart") << true << 5 << 0 << true << "destroy" << QList<int>();
    QTest::newRow("a run that does not stop in time keeps its input")
        << false << 5 << 50 << false << "open" << QList<int>{3};
}

void TestStorageWorkers::restartableWorker()
{
    QFETCH(bool, obeysStop);
    QFETCH(int, second);
    QFETCH(int, waitMs);
    QFETCH(bool, restarted);
    QFETCH(QString, then);
    QFETCH(QList<int>, finished);

    auto worker = std::make_unique<CountingWorker>(obeysStop);
    QList<int> counted;
    connect(worker.get(), &CountingWorker::counted, this, [&counted](int n) { counted << n; });
    QVERIFY(worker->begin(3));
    QTRY_VERIFY(worker->entered());
    QVERIFY(worker->isRunning());
    if (second != 0) {
        QCOMPARE(worker->begin(second, waitMs > 0 ? ulong(waitMs) : ULONG_MAX), restarted);
        QCOMPARE(worker->input(), restarted ? second : 3);
        QVERIFY(worker->isRunning());
    }
    if (then == QLatin1String("open")) {
        worker->open();
        QTRY_VERIFY(worker->isFinished());
    } else if (then == QLatin1String("stop")) {
        worker->requestStop();
        QTRY_VERIFY(worker->isFinished());
    } else {
        worker.reset();
    }
    // What the runs emitted before they ended is queued here by now.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(counted, finished);
}

BRINDLE_TEST_MAIN(TestStorageWorkers)
#include "tst_storageworkers.moc"
