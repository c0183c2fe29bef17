#include "session/categoryhistory.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
#include "session/liveannotations.h"
#include "storage/annotationstore.h"
#include "storage/cocoimport.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfile.h"
#include "storage/layoutfixtures.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/livestub.h"
#include "session/sessionfixture.h"
#include "testmain.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>

// The label files of an open folder that change under it: big ones read off the GUI thread,
// rewritten by another program, filled by an import.
class TestSessionRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void largeLabelFileReadOnWorker_data();
    void largeLabelFileReadOnWorker();
    void cocoImportRereadsCachedImages();
    void labelsRewrittenElsewhere_data();
    void labelsRewrittenElsewhere();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};

void TestSessionRefresh::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images = SessionFixture::makeImages(m_dir);
    QCOMPARE(m_images.size(), 4);
}

void TestSessionRefresh::largeLabelFileReadOnWorker_data()
{
    QTest::addColumn<int>("points");     // of the outline in the image's label file
    QTest::addColumn<bool>("onWorker");
    QTest::addColumn<bool>("stepAway");  // to the next image before the labels are read
    QTest::newRow("small file read at once") << 100 << false << false;
    QTest::newRow("large file read on the worker") << 40000 << true << false;
    QTest::newRow("large file, stepped past") << 40000 << true << true;
}

// The image shows before a large label file is read; until its records are there a save writes
// nothing, and the records (with the image's pending results) arrive for the image on screen only.
void TestSessionRefresh::largeLabelFileReadOnWorker()
{
    QFETCH(int, points);
    QFETCH(bool, onWorker);
    QFETCH(bool, stepAway);
    const QString image = m_images.at(0);
    const Annotation ring = polygon(QStringLiteral("ring"), wavyRing(points, {100, 50}, 40));
    QVERIFY(saveAnnotations(image, {ring}, true, {}));
    QVERIFY(writePendingFile(m_dir, {{image, {box(QStringLiteral("dog"), QRectF(5, 5, 20, 20), 1)}}}));
    const QString labelFile = yoloLabelPath(image);
    const QByteArray before = Fixtures::readBytes(labelFile);
    QCOMPARE(before.size() > 256 * 1024, onWorker);

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    QSignalSpy arrived(&session, &FolderSession::currentLabelsArrived);
    connect(&session, &FolderSession::currentLabelsArrived, this,
            [&live](const QList<Annotation> &records) { live.list += records; });
    session.openNow(m_dir);
    live.list = session.enterImage(image);
    QCOMPARE(session.isReadingLabels(image), onWorker);
    const Annotation cat = box(QStringLiteral("cat"), QRectF(150, 60, 20, 20));
    if (onWorker) {
        QVERIFY(live.list.isEmpty());
        // An edit made meanwhile cannot be saved yet: the file would lose the outline.
        live.list.append(cat);
        QVERIFY(!session.saveImage(image, live.list));
        QCOMPARE(Fixtures::readBytes(labelFile), before);
        QVERIFY(session.flushPending());
        QCOMPARE(labelsMarkingPending(readPendingFile(m_dir).value(image)), QStringList{"dog*"});
    }
    if (stepAway) {
        session.leaveImage();
        live.list = session.enterImage(m_images.at(1));
        QVERIFY(!session.isReadingLabels(image));
        // Long past the read: nothing may arrive for the image left.
        QVERIFY(!arrived.wait(500));
        QVERIFY(session.saveImage(m_images.at(1), {cat}));
        QCOMPARE(Fixtures::readBytes(labelFile), before);
        return;
    }
    QTRY_VERIFY(!session.isReadingLabels(image));
    QCOMPARE(arrived.count(), onWorker ? 1 : 0);
    const auto rings = [points](const QList<Annotation> &list) {
        return std::count_if(list.cbegin(), list.cend(), [points](const Annotation &a) {
            return a.label == QStringLiteral("ring") && a.points.size() == points;
        });
    };
    QCOMPARE(rings(live.list), 1);
    QCOMPARE(live.pendingCount(), 1);
    QVERIFY(session.saveImage(image, live.list));
    const QList<Annotation> saved = loadAnnotations(image);
    QCOMPARE(saved.size(), onWorker ? 2 : 1);
    QCOMPARE(rings(saved), 1);
}

// An image visited before the import: its cached records are those of the file written, and its
// pending results stay.
void TestSessionRefresh::cocoImportRereadsCachedImages()
{
    QVERIFY(Fixtures::writeBytes(vocXmlPath(m_images.at(1)), SessionFixture::voc({QStringLiteral("cat")})));
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    QSignalSpy finished(&session, &FolderSession::listingFinished);
    session.open(m_dir);
    QVERIFY(finished.wait());
    live.list = session.enterImage(m_images.at(0));
    live.list.append(box(QStringLiteral("dog"), QRectF(50, 20, 30, 30), 1));
    QVERIFY(session.flushPending());
    session.leaveImage();
    QCOMPARE(session.cachedAnnotations(m_images.at(0)).size(), 1);

    const CocoDocument document = readCocoBytes(R"({"categories": [{"id": 1, "name": "owl"}],
        "images": [{"id": 1, "file_name": "img1.png"}, {"id": 2, "file_name": "img2.png"}],
        "annotations": [{"id": 1, "image_id": 1, "category_id": 1, "bbox": [1, 2, 30, 40]},
                        {"id": 2, "image_id": 2, "category_id": 1, "bbox": [100, 50, 20, 20]}]})");
    QVERIFY(!document.failed());
    const CocoImportSummary summary = session.importCoco(document, false);
    QCOMPARE(summary.written, QStringList{m_images.at(0)});
    QCOMPARE(summary.labelled, QStringList{m_images.at(1)});
    QCOMPARE(labelsMarkingPending(session.cachedAnnotations(m_images.at(0))),
             (QStringList{QStringLiteral("owl"), QStringLiteral("dog*")}));
    // The folder's format: VOC, as its other file.
    QCOMPARE(readStoredAnnotations(m_images.at(0)).file, vocXmlPath(m_images.at(0)));
    QTRY_VERIFY(session.imageState(m_images.at(0)).labelFile);
    QCOMPARE(loadAnnotations(m_images.at(1)).size(), 1);
}

void TestSessionRefresh::labelsRewrittenElsewhere_data()
{
    // img1 holds a cat and a pending bird; another program (brindlemark-cli label --confirmed, a
    // script) rewrites its label file while the session has the folder open.
    QTest::addColumn<QString>("when");
    QTest::addColumn<QStringList>("theirs");     // their file's objects; "-": they removed it
    QTest::addColumn<QStringList>("shown");      // what the image shows then
    QTest::addColumn<QStringList>("inFile");     // the label file at the end
    const QStringList theirs{"dog", "fox"};
    QTest::newRow("while away: coming back reads theirs") << "away" << theirs << QStringList{"dog", "fox", "bird?"}
                                                          << theirs;
    QTest::newRow("while away, removed: coming back shows none")
        << "away" << QStringList{"-"} << QStringList{"bird?"} << QStringList();
    QTest::newRow("while away, they confirmed the pending one: it is not shown twice")
        << "away" << QStringList{"dog", "bird"} << QStringList{"dog", "bird"} << QStringList{"dog", "bird"};
    QTest::newRow("while shown with unsaved edits: the save refuses, a reload shows theirs")
        << "edited" << theirs << QStringList{"dog", "fox", "bird?"} << theirs;
    QTest::newRow("while away, then a model's result: merged into theirs")
        << "merge" << theirs << QStringList{"dog", "fox", "bird?", "owl"} << QStringList{"dog", "fox", "owl"};
}

void TestSessionRefresh::labelsRewrittenElsewhere()
{
    QFETCH(QString, when);
    QFETCH(QStringList, theirs);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, inFile);
    const QString image = m_images.at(0);
    const QString file = vocXmlPath(image);
    // Every object on the pending bird's box: the one they confirmed repeats it.
    const auto writeVoc = [&](const QStringList &labels) {
        QByteArray xml = "<annotation>";
        for (const QString &label : labels)
            xml += "<object><name>" + label.toUtf8() + "</name><bndbox><xmin>10</xmin><ymin>10</ymin>"
                "<xmax>30</xmax><ymax>30</ymax></bndbox></object>";
        return Fixtures::writeBytes(file, xml + "</annotation>");
    };
    const auto names = [](const QList<Annotation> &list) {
        QStringList out;
        for (const Annotation &a : list)
            out.append(a.label + (a.pending ? QStringLiteral("?") : QString()));
        return out;
    };
    QVERIFY(writeVoc({"cat"}));
    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, QStringLiteral("img1.png: bird"))));
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.setWatchingLabelFiles(true);
    session.openNow(m_dir);
    live.list = session.enterImage(image);
    QCOMPARE(names(live.list), QStringList({"cat", "bird?"}));
    QSignalSpy told(&session, &FolderSession::currentLabelsChangedElsewhere);

    const auto rewrite = [&] { return theirs == QStringList{"-"} ? QFile::remove(file) : writeVoc(theirs); };
    if (when == QLatin1String("edited")) {
        live.list.append(box("cow", 50, 50, 90, 90));
        QVERIFY(rewrite());
        QTRY_COMPARE(told.size(), 1);   // the watch on the image shown
        QVERIFY(session.labelFileChangedElsewhere(image));
        SaveReport report;
        QVERIFY(!session.saveImage(image, live.list, &report));
        QVERIFY(report.changedElsewhere);
        QCOMPARE(names(readStoredAnnotations(image).annotations), theirs);
        live.list = session.reloadImage();
    } else {
        live.list = session.enterImage(m_images.at(1));
        QVERIFY(rewrite());
        if (when == QLatin1String("merge")) {
            const FolderSession::MergeOutcome merged = session.mergeResults(image, {box("owl", 100, 10, 150, 60)});
            QVERIFY(!merged.saveFailed);
        }
        live.list = session.enterImage(image);
        QTest::qWait(400);
        QCOMPARE(told.size(), 0);   // not the image shown
    }
    QCOMPARE(names(live.list), shown);
    QCOMPARE(session.imageState(image).confirmed, int(inFile.size()));
    // What they wrote is now what the session saves over: nothing of theirs is lost.
    QVERIFY(session.saveImage(image, live.list));
    QCOMPARE(names(readStoredAnnotations(image).annotations), inFile);
    session.leaveImage();
    QVERIFY(session.close());
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)),
             shown.contains(QStringLiteral("bird?")) ? QStringLiteral("img1.png: bird") : QString());
}

BRINDLE_TEST_MAIN(TestSessionRefresh)
#include "tst_sessionrefresh.moc"
