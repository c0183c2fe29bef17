#include "session/autolabelresults.h"
#include "session/pendingwritethrottle.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>

class TestAutoLabelResults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void overlapFilter_data();
    void overlapFilter();
    void labelFileRecords();
    void pendingCacheOfListedImages();
    void mergeIntoCache_data();
    void mergeIntoCache();
    void confirmedWriteFailure_data();
    void confirmedWriteFailure();
    void throttleSpacesWrites();
    void throttleFlushesOnlyChanges();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;
};

void TestAutoLabelResults::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->path() + QStringLiteral("/ds/cat.png");
    QVERIFY(Fixtures::makeImage(m_image, 400, 300));
}

void TestAutoLabelResults::overlapFilter_data()
{
    QTest::addColumn<QList<Annotation>>("existing");
    QTest::addColumn<QList<Annotation>>("results");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<int>("dropped");

    const QRectF square(0, 0, 100, 100);
    const QList<Annotation> cat{box("cat", square)};
    QTest::newRow("Cat over cat at IoU 0.75 is dropped") << cat << QList<Annotation>{box("Cat", {0, 0, 100, 75})}
                                                         << QStringList{} << 1;
    QTest::newRow("same box over dog is kept") << QList<Annotation>{box("dog", square)}
                                               << QList<Annotation>{box("Cat", {0, 0, 100, 75})}
                                               << QStringList{"Cat"} << 0;
    QTest::newRow("IoU exactly 0.7 is kept") << cat << QList<Annotation>{box("cat", {0, 0, 100, 70})}
                                             << QStringList{"cat"} << 0;
    QTest::newRow("IoU 0.71 is dropped") << cat << QList<Annotation>{box("cat", {0, 0, 100, 71})} << QStringList{}
                                         << 1;
    QTest::newRow("swapped corners are a box too") << cat << QList<Annotation>{box("CAT", {100, 100, -100, -100})}
                                                   << QStringList{} << 1;
    QTest::newRow("zero-area existing never drops") << QList<Annotation>{box("cat", {10, 10, 0, 50})}
                                                    << QList<Annotation>{box("cat", {10, 10, 0, 50})}
                                                    << QStringList{"cat"} << 0;
    QTest::newRow("zero-area result is kept") << cat << QList<Annotation>{box("cat", {0, 0, 100, 0})}
                                              << QStringList{"cat"} << 0;
    // A model that repeats itself: among one answer's results the most confident copy stays.
    const auto scored = [](Annotation a, double confidence) { a.confidence = confidence; return a; };
    QTest::newRow("identical results of one answer: one stays")
        << QList<Annotation>{} << QList<Annotation>{box("cat", square), box("cat", square)}
        << QStringList{"cat"} << 1;
    QTest::newRow("repeat in one answer: the more confident stays, order kept")
        << QList<Annotation>{}
        << QList<Annotation>{scored(box("cat", square), 0.5), scored(box("dog", square), 0.4),
                             scored(box("CAT", {0, 0, 100, 90}), 0.9)}
        << QStringList{"dog", "CAT"} << 1;
    QTest::newRow("repeat in one answer: of equals the first stays")
        << QList<Annotation>{} << QList<Annotation>{scored(box("Cat", square), 0.8), scored(box("cAT", square), 0.8)}
        << QStringList{"Cat"} << 1;
    QTest::newRow("one answer, IoU exactly 0.7: both stay")
        << QList<Annotation>{} << QList<Annotation>{box("cat", square), box("cat", {0, 0, 100, 70})}
        << QStringList{"cat", "cat"} << 0;
    QTest::newRow("one answer, zero-area results both stay")
        << QList<Annotation>{} << QList<Annotation>{box("cat", {10, 10, 0, 50}), box("cat", {10, 10, 0, 50})}
        << QStringList{"cat", "cat"} << 0;
    QTest::newRow("one answer, polygon repeats a box")
        << QList<Annotation>{}
        << QList<Annotation>{scored(box("cat", square), 0.6),
                             scored(polygon("Cat", {{0, 0}, {100, 0}, {100, 100}, {0, 90}}), 0.7)}
        << QStringList{"Cat"} << 1;
    // The copy that repeats a shape already there goes first, so it cannot take a neighbour along.
    QTest::newRow("a result dropped for an existing shape drops no other")
        << cat << QList<Annotation>{scored(box("Cat", {0, 0, 100, 120}), 0.9), scored(box("cAt", {0, 20, 100, 120}), 0.5)}
        << QStringList{"cAt"} << 1;
    QTest::newRow("pending shapes count as existing") << QList<Annotation>{box("cat", square, 1)}
                                                      << QList<Annotation>{box("cat", square, 1)} << QStringList{} << 1;
    QTest::newRow("polygon result against a box")
        << cat << QList<Annotation>{polygon("cat", {{0, 0}, {100, 0}, {100, 100}, {0, 90}})} << QStringList{} << 1;
    QTest::newRow("box result against a polygon")
        << QList<Annotation>{polygon("Cat", {{0, 0}, {100, 0}, {50, 100}})}
        << QList<Annotation>{box("cat", square), box("cat", {200, 200, 50, 50})} << QStringList{"cat"} << 1;
    QTest::newRow("order of the kept ones stays")
        << cat << QList<Annotation>{box("b", square), box("cat", square), box("a", square)}
        << QStringList{"b", "a"} << 1;
}

void TestAutoLabelResults::overlapFilter()
{
    QFETCH(QList<Annotation>, existing);
    QFETCH(QList<Annotation>, results);
    QFETCH(QStringList, kept);
    QFETCH(int, dropped);
    const OverlapFilterResult out = filterOverlapping(existing, results);
    QStringList keptLabels;
    for (const Annotation &a : out.kept)
        keptLabels << a.label;
    QCOMPARE(keptLabels, kept);
    QCOMPARE(out.dropped, dropped);
}

void TestAutoLabelResults::labelFileRecords()
{
    const QList<Annotation> anns{box("a", {0, 0, 5, 5}), box("b", {0, 0, 5, 5}, 1), box("", {0, 0, 5, 5}),
                                 polygon("c", {{0, 0}, {5, 0}, {0, 5}})};
    QCOMPARE(labelsMarkingPending(::labelFileRecords(anns)), (QStringList{"a", "c"}));
    QVERIFY(hasConfirmed(anns));
    QVERIFY(!hasConfirmed({box("b", {0, 0, 5, 5}, 1)}));
}

void TestAutoLabelResults::pendingCacheOfListedImages()
{
    const QString dir = QFileInfo(m_image).absolutePath();
    const QString other = dir + QStringLiteral("/dog.png");
    QVERIFY(Fixtures::makeImage(other, 100, 100));
    QVERIFY(saveAnnotations(m_image, {box("stored", {1, 1, 50, 50})}, false, {}));
    AnnotationCache written;
    written.insert(m_image, {box("p1", {2, 2, 20, 20}, 1)});
    written.insert(other, {box("p2", {2, 2, 20, 20}, 1)});
    written.insert(dir + QStringLiteral("/gone.png"), {box("p3", {2, 2, 20, 20}, 1)});
    QVERIFY(writePendingFile(dir, written));

    const AnnotationCache cache = loadPendingCache(dir, {m_image, other});
    QCOMPARE(cache.size(), 2);
    QCOMPARE(labelsMarkingPending(cache.value(m_image)), (QStringList{"stored", "p1*"}));
    QCOMPARE(labelsMarkingPending(cache.value(other)), (QStringList{"p2*"}));
}

void TestAutoLabelResults::mergeIntoCache_data()
{
    QTest::addColumn<bool>("cached");        // the image already has a cache entry with a pending box
    QTest::addColumn<int>("pending");        // of the results
    QTest::addColumn<bool>("useYolo");       // the format of new label files
    QTest::addColumn<QStringList>("entry");  // labels of the cache entry afterwards
    QTest::addColumn<QStringList>("stored"); // labels in the label file afterwards

    QTest::newRow("pending, not cached: loaded first, file untouched")
        << false << 1 << false << QStringList{"stored", "new*"} << QStringList{"stored"};
    QTest::newRow("pending, cached: overlap with the pending entry dropped")
        << true << 1 << false << QStringList{"stored", "old*", "new*"} << QStringList{"stored"};
    QTest::newRow("confirmed VOC: file gets stored and new, not pending")
        << true << 0 << false << QStringList{"stored", "old*", "new"} << QStringList{"stored", "new"};
    // The image's VOC file keeps its format: results never convert it.
    QTest::newRow("confirmed, YOLO for new files: the VOC file stays VOC")
        << false << 0 << true << QStringList{"stored", "new"} << QStringList{"stored", "new"};
}

void TestAutoLabelResults::mergeIntoCache()
{
    QFETCH(bool, cached);
    QFETCH(int, pending);
    QFETCH(bool, useYolo);
    QFETCH(QStringList, entry);
    QFETCH(QStringList, stored);

    QVERIFY(saveAnnotations(m_image, {box("stored", {10, 10, 100, 100})}, false, {}));
    AnnotationCache cache;
    if (cached)
        cache.insert(m_image, cacheEntry(m_image, {box("old", {200, 100, 100, 100}, 1)}));
    // One result repeats the stored box, one the pending box (when there is one), one is new.
    const QList<Annotation> results{box("STORED", {10, 10, 100, 95}, pending), box("old", {200, 100, 100, 98}, pending),
                                    box("new", {300, 200, 50, 50}, pending)};
    const CacheMergeResult out = ::mergeIntoCache(cache, m_image, results, useYolo ? LabelFormat::Yolo : LabelFormat::Voc, {"stored"});
    QCOMPARE(out.dropped, cached ? 2 : 1);
    QCOMPARE(out.kept.size(), cached ? 1 : 2);
    QCOMPARE(out.labelsWritten, pending == 0);
    QVERIFY(!out.writeFailed);
    if (!cached) {
        // Without a cache entry the old box was new to this image.
        entry.insert(entry.size() - 1, pending ? QStringLiteral("old*") : QStringLiteral("old"));
        if (pending == 0)
            stored.insert(stored.size() - 1, QStringLiteral("old"));
    }
    QCOMPARE(labelsMarkingPending(cache.value(m_image)), entry);
    QCOMPARE(labelsMarkingPending(loadAnnotations(m_image)), stored);
    QVERIFY(QFileInfo::exists(vocXmlPath(m_image)));
    QVERIFY(!QFileInfo::exists(yoloLabelPath(m_image)));
}

void TestAutoLabelResults::confirmedWriteFailure_data()
{
    QTest::addColumn<QString>("labelFile");   // "annotations": a file where the VOC directory belongs
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("unreadable");

    QTest::newRow("VOC directory cannot be made") << QStringLiteral("annotations") << QByteArray("x") << false;
    QTest::newRow("YOLO line that does not parse")
        << QStringLiteral("labels/cat.txt") << QByteArray("0 0.5 0.5 0.2 0.2\n0 0.5 nonsense\n") << true;
    QTest::newRow("VOC cut off after its first object")
        << QStringLiteral("annotations/cat.xml")
        << QByteArray("<annotation><object><name>a</name><bndbox><xmin>1</xmin><ymin>1</ymin><xmax>9</xmax>"
                      "<ymax>9</ymax></bndbox></object><object><name>b</name><bndbox><xmin>1<")
        << true;
}

void TestAutoLabelResults::confirmedWriteFailure()
{
    QFETCH(QString, labelFile);
    QFETCH(QByteArray, content);
    QFETCH(bool, unreadable);
    const QString path = QFileInfo(m_image).absolutePath() + QLatin1Char('/') + labelFile;
    QVERIFY(Fixtures::writeBytes(path, content));

    // Nothing is lost: the label file stays as it was and the results wait as pending ones.
    AnnotationCache cache;
    const CacheMergeResult out = ::mergeIntoCache(cache, m_image, {box("cat", {200, 150, 50, 50})}, LabelFormat::Voc, {});
    QVERIFY(out.writeFailed);
    QVERIFY(!out.labelsWritten);
    QCOMPARE(out.labelsUnreadable, unreadable);
    QCOMPARE(Fixtures::readBytes(path), content);
    QCOMPARE(labelsMarkingPending(out.kept), QStringList{"cat*"});
    QCOMPARE(labelsMarkingPending(cache.value(m_image)).last(), QStringLiteral("cat*"));

    const CacheMergeResult again = ::mergeIntoCache(cache, m_image, {box("Cat", {200, 150, 50, 50})}, LabelFormat::Voc, {});
    QCOMPARE(again.dropped, 1);
    QVERIFY(!again.writeFailed);
    QVERIFY(!again.labelsWritten);
}

void TestAutoLabelResults::throttleSpacesWrites()
{
    const int interval = 300;
    PendingWriteThrottle throttle(nullptr, interval);
    QSignalSpy writes(&throttle, &PendingWriteThrottle::writeRequested);
    QElapsedTimer clock;
    clock.start();
    throttle.markChanged();
    QCOMPARE(writes.count(), 0);   // written from the event loop, after the handler
    QTRY_COMPARE(writes.count(), 1);
    QVERIFY(clock.elapsed() < interval);
    clock.restart();

    for (int i = 0; i < 20; ++i)
        throttle.markChanged();
    QVERIFY(throttle.hasUnwritten());
    QTRY_COMPARE(writes.count(), 2);
    QVERIFY2(clock.elapsed() >= interval * 9 / 10, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!throttle.hasUnwritten());
}

void TestAutoLabelResults::throttleFlushesOnlyChanges()
{
    PendingWriteThrottle throttle(nullptr, 60000);
    QSignalSpy writes(&throttle, &PendingWriteThrottle::writeRequested);
    throttle.flush();
    QCOMPARE(writes.count(), 0);
    throttle.markChanged();
    throttle.flush();
    QCOMPARE(writes.count(), 1);
    throttle.markChanged();   // within the interval: waits
    QCoreApplication::processEvents();
    QCOMPARE(writes.count(), 1);
    throttle.flush();         // the end of a run writes it at once
    QCOMPARE(writes.count(), 2);
    throttle.flush();
    QCOMPARE(writes.count(), 2);
}

BRINDLE_TEST_MAIN(TestAutoLabelResults)
#include "tst_autolabelresults.moc"
