#include "session/categoryhistory.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
#include "session/liveannotations.h"
#include "storage/annotationstore.h"
#include "storage/cocoimport.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/pendingfile.h"
#include "storage/layoutfixtures.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/labelmesamples.h"
#include "support/livestub.h"
#include "session/sessionfixture.h"
#include "testmain.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>

// The open folder without a window: what the window and the command line share.
class TestFolderSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pendingResultsMerged_data();
    void pendingResultsMerged();
    void pendingFileNotRewrittenWhenUnchanged();
    void prelistedFolderListedOnce_data();
    void prelistedFolderListedOnce();
    void namesThatAreNotUtf8AreTold_data();
    void namesThatAreNotUtf8AreTold();
    void anotherProgramWritesMeanwhile_data();
    void anotherProgramWritesMeanwhile();
    void movedFolderKeepsResults_data();
    void movedFolderKeepsResults();
    void watchedFileTakenIn();
    void dotaLinesSurviveASave();
    void backgroundApartFromUnlabelled_data();
    void backgroundApartFromUnlabelled();
    void markCheckedWritesAndTakesBack_data();
    void markCheckedWritesAndTakesBack();
    void decidedResultWaitsForItsLabelFile_data();
    void decidedResultWaitsForItsLabelFile();
    void categoriesStayWithTheirDataset_data();
    void categoriesStayWithTheirDataset();
    void storedCategoriesStayWithTheirDataset_data();
    void storedCategoriesStayWithTheirDataset();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};

void TestFolderSession::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images = SessionFixture::makeImages(m_dir);
    QCOMPARE(m_images.size(), 4);
}

void TestFolderSession::prelistedFolderListedOnce_data()
{
    QTest::addColumn<QString>("prelisted");   // "ds" or "other"
    QTest::addColumn<bool>("eventsBetween");  // its listing handled before the open
    QTest::newRow("prelisted, then opened") << "ds" << false;
    QTest::newRow("its listing handled before the open: listed again") << "ds" << true;
    QTest::newRow("another folder prelisted") << "other" << false;
}

// A window lists its folder while it is built: the open that follows takes that listing on,
// every image once, whatever came before it.
void TestFolderSession::prelistedFolderListedOnce()
{
    QFETCH(QString, prelisted);
    QFETCH(bool, eventsBetween);
    const QString other = m_tmp->path() + QStringLiteral("/other");
    QCOMPARE(SessionFixture::makeImages(other).size(), 4);
    QVERIFY(QFile::remove(other + QStringLiteral("/img1.png")));
    FolderSession session;
    QStringList firstListed;   // on the listing's thread, read here once it has ended
    connect(&session, &FolderSession::firstImageListed, this,
            [&firstListed](const QString &, const QString &path) { firstListed.append(path); }, Qt::DirectConnection);
    QSignalSpy finished(&session, &FolderSession::listingFinished);
    QSignalSpy wanted(&session, &FolderSession::imageWanted);
    session.prelist(prelisted == u"ds" ? m_dir : other);
    if (eventsBetween)
        QTest::qWait(300);
    session.open(m_dir);
    QTRY_COMPARE(finished.size(), 1);
    QTRY_VERIFY(!session.isListing());
    QCOMPARE(session.imagePaths(), m_images);
    QCOMPARE(finished.first().first().toStringList(), m_images);
    // The first image also waits for the pending file's read.
    QTRY_VERIFY(!wanted.isEmpty());
    QCOMPARE(wanted.first().first().toString(), m_images.at(0));
    QVERIFY(firstListed.contains(m_images.at(0)));
    QTest::qWait(100);
    QCOMPARE(finished.size(), 1);
}

void TestFolderSession::pendingResultsMerged_data()
{
    QTest::addColumn<int>("gone");   // results of images no longer there, to make the file large
    QTest::newRow("small file: the first image waits for it") << 1;
    QTest::newRow("large file: the first image may come first") << 8000;
}

void TestFolderSession::pendingResultsMerged()
{
    QFETCH(int, gone);
    QVERIFY(Fixtures::writeBytes(vocXmlPath(m_images.at(0)), SessionFixture::voc({QStringLiteral("cat")})));
    AnnotationCache pending;
    pending.insert(m_images.at(0), {box(QStringLiteral("dog"), QRectF(50, 20, 30, 30), 1)});
    pending.insert(m_images.at(2), {box(QStringLiteral("bird"), QRectF(5, 5, 10, 10), 1)});
    for (int i = 0; i < gone; ++i)
        pending.insert(m_dir + QStringLiteral("/gone%1.png").arg(i), {box(QStringLiteral("old"), QRectF(1, 1, 5, 5), 1)});
    QVERIFY(writePendingFile(m_dir, pending));

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    QSignalSpy wanted(&session, &FolderSession::imageWanted);
    // As the window's editor takes the results of the image on screen that come after it.
    connect(&session, &FolderSession::currentResultsArrived, this,
            [&live](const QList<Annotation> &records) { live.list += records; });
    session.open(m_dir);
    QVERIFY(wanted.wait());
    QCOMPARE(wanted.first().first().toString(), m_images.at(0));

    // The first image holds its label file and, from the start or soon, its pending result.
    live.list = session.enterImage(m_images.at(0));
    if (gone < 10)
        QCOMPARE(live.list.size(), 2);
    QTRY_COMPARE(live.list.size(), 2);
    QCOMPARE(live.pendingCount(), 1);
    QTRY_COMPARE(session.imageState(m_images.at(2)).pending, 1);
    // Until the listing is done, results of images not listed yet may still be listed.
    QTRY_VERIFY(!session.isListing());

    // Rejecting the pending result is a change: saving the image writes it, and drops the stale
    // entries too.
    live.list.removeIf([](const Annotation &a) { return a.pending != 0; });
    QVERIFY(session.saveImage(m_images.at(0), live.list));
    session.leaveImage();
    const AnnotationCache written = readPendingFile(m_dir);
    QCOMPARE(written.keys(), QStringList{m_images.at(2)});
    // Nothing pending reached the label file.
    QCOMPARE(loadAnnotations(m_images.at(0)).size(), 1);
}

void TestFolderSession::pendingFileNotRewrittenWhenUnchanged()
{
    AnnotationCache pending;
    for (const QString &image : std::as_const(m_images))
        pending.insert(image, {box(QStringLiteral("dog"), QRectF(50, 20, 30, 30), 1)});
    QVERIFY(writePendingFile(m_dir, pending));
    const QString file = pendingFilePath(m_dir);
    const QByteArray before = Fixtures::readBytes(file);
    const auto changed = [&file] { return QFileInfo(file).fileTime(QFileDevice::FileMetadataChangeTime); };
    const QDateTime stamp = changed();
    QTest::qWait(20);

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.openNow(m_dir);
    for (const QString &image : std::as_const(m_images)) {
        live.list = session.enterImage(image);
        QCOMPARE(live.pendingCount(), 1);
        QVERIFY(session.flushPending());
    }
    QCOMPARE(changed(), stamp);
    QVERIFY(session.close());
    QCOMPARE(Fixtures::readBytes(file), before);
    QCOMPARE(changed(), stamp);
}

void TestFolderSession::namesThatAreNotUtf8AreTold_data()
{
    QTest::addColumn<bool>("inBackground");
    QTest::newRow("window: listed on a thread") << true;
    QTest::newRow("command line: listed at once") << false;
}

void TestFolderSession::namesThatAreNotUtf8AreTold()
{
    QFETCH(bool, inBackground);
    // As zip archives made on Windows name files: Latin-1 bytes, which no path can open.
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(m_dir) + "/caf\xe9.png",
                                          Fixtures::readBytes(m_images.first())));
    FolderSession session;
    QSignalSpy notices(&session, &FolderSession::notice);
    if (inBackground) {
        QSignalSpy finished(&session, &FolderSession::listingFinished);
        session.open(m_dir);
        QVERIFY(finished.wait());
    } else {
        session.openNow(m_dir);
    }
    QCOMPARE(session.imagePaths(), m_images);
    QCOMPARE(session.unlistableImages(), QStringList{m_dir + QStringLiteral("/caf\\xE9.png")});
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().first().toString().contains(QStringLiteral("caf\\xE9.png")),
             qPrintable(notices.first().first().toString()));
}

void TestFolderSession::anotherProgramWritesMeanwhile_data()
{
    // The session holds img1 on screen; another program (brindlemark-cli label) rewrites the file;
    // the user confirms the cat on screen, a new result (an ant) arrives there and the session writes.
    QTest::addColumn<QString>("before");   // the file when the session opened the folder
    QTest::addColumn<QString>("theirs");   // the file the other program left
    QTest::addColumn<bool>("inBackground");
    QTest::addColumn<QString>("expected");   // the file written; the confirmed cat waits for the label file
    QTest::addColumn<QString>("saved");      // the file once img1's label file holds the cat
    const QString before = QStringLiteral("img1.png: cat dog; img2.png: bird");
    const QString added = QStringLiteral("img1.png: cat dog; img2.png: bird; img3.png: fox; img4.png: owl");
    QTest::newRow("its new results survive a confirmation")
        << before << added << false << "img1.png: dog ant cat; img2.png: bird; img3.png: fox; img4.png: owl"
        << "img1.png: dog ant; img2.png: bird; img3.png: fox; img4.png: owl";
    QTest::newRow("its new results survive a write in the background")
        << before << added << true << "img1.png: dog ant cat; img2.png: bird; img3.png: fox; img4.png: owl"
        << "img1.png: dog ant; img2.png: bird; img3.png: fox; img4.png: owl";
    QTest::newRow("what it decided is not brought back") << before << "img1.png: cat dog" << false
                                                         << "img1.png: dog ant cat" << "img1.png: dog ant";
}

void TestFolderSession::anotherProgramWritesMeanwhile()
{
    QFETCH(QString, before);
    QFETCH(QString, theirs);
    QFETCH(bool, inBackground);
    QFETCH(QString, expected);
    QFETCH(QString, saved);
    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, before)));
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.openNow(m_dir);
    live.list = session.enterImage(m_images.at(0));
    QCOMPARE(live.pendingCount(), 2);

    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, theirs)));
    live.list.first().pending = 0;   // the cat confirmed
    live.list.append(box(QStringLiteral("ant"), QRectF(10, 10, 20, 20), 1));
    QSignalSpy written(&session, &FolderSession::pendingWritten);
    if (inBackground) {
        QVERIFY(session.flushPending(true));
        QVERIFY(written.wait());
    } else {
        QVERIFY(session.flushPending());
    }
    QCOMPARE(written.size(), 1);
    QVERIFY(written.first().first().toBool());
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), expected);
    // What the other program did reaches the counts of the file list.
    const AnnotationCache now = pendingOf(m_dir, expected);
    for (const QString &image : m_images.mid(1))
        QTRY_COMPARE(session.imageState(image).pending, int(now.value(image).size()));
    // Saving the image lets the confirmed cat go; writing again changes nothing.
    QVERIFY(session.saveImage(m_images.at(0), live.list));
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), saved);
    session.leaveImage();
    QVERIFY(session.close());
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), saved);
}

void TestFolderSession::movedFolderKeepsResults_data()
{
    // The folder the file was written in (keys absolute, as before) and the one opened later.
    QTest::addColumn<QString>("how");
    QTest::newRow("renamed") << "renamed";
    QTest::newRow("copied elsewhere") << "copied";
    QTest::newRow("opened through a link") << "link";
    QTest::newRow("written through a link, opened directly") << "written through a link";
}

void TestFolderSession::movedFolderKeepsResults()
{
    QFETCH(QString, how);
    const QString other = m_tmp->path() + QStringLiteral("/elsewhere/ds2");
    QVERIFY(QDir().mkpath(QFileInfo(other).absolutePath()));
    QString writtenIn = m_dir;
    QString opened = other;
    if (how == u"renamed") {
        QVERIFY(QDir().rename(m_dir, other));
    } else if (how == u"copied") {
        QVERIFY(QDir().mkpath(other));
        for (const QString &image : std::as_const(m_images))
            QVERIFY(QFile::copy(image, other + QLatin1Char('/') + QFileInfo(image).fileName()));
    } else if (how == u"link") {
        QVERIFY(QFile::link(m_dir, other));
    } else {
        QVERIFY(QFile::link(m_dir, other));
        writtenIn = other;
        opened = m_dir;
    }
    // A file as it was written before keys were relative: absolute paths of where it was written.
    QByteArray old = R"({"pending":{"WHERE/img1.png":[{"b":[10,10,30,30],"c":0.9,"d":0,"l":"cat","t":"r"}],)"
                     R"("WHERE/img2.png":[{"b":[10,10,30,30],"c":0.8,"d":0,"l":"dog","t":"r"}]},"version":1})";
    QVERIFY(Fixtures::writeBytes(pendingFilePath(opened), old.replace("WHERE", writtenIn.toUtf8())));

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.openNow(opened);
    live.list = session.enterImage(opened + QStringLiteral("/img1.png"));
    QCOMPARE(live.pendingCount(), 1);
    QTRY_COMPARE(session.imageState(opened + QStringLiteral("/img2.png")).pending, 1);

    // A new result makes the session write: the old results stay, under keys of the folder.
    session.mergeResults(opened + QStringLiteral("/img3.png"), {box(QStringLiteral("fox"), QRectF(50, 50, 20, 20), 1)});
    session.leaveImage();
    QVERIFY(session.close());
    QCOMPARE(describePending(opened, readPendingFile(opened)), QStringLiteral("img1.png: cat; img2.png: dog; img3.png: fox"));
    const QByteArray file = Fixtures::readBytes(pendingFilePath(opened));
    QVERIFY2(file.contains(R"("img1.png":)") && !file.contains(m_tmp->path().toUtf8()), file.constData());
}

void TestFolderSession::watchedFileTakenIn()
{
    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, QStringLiteral("img1.png: cat"))));
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.setWatchingPendingFile(true);
    QSignalSpy wanted(&session, &FolderSession::imageWanted);
    session.open(m_dir);
    QVERIFY(wanted.wait());
    live.list = session.enterImage(m_images.at(0));
    QTRY_VERIFY(!session.isListing());
    QSignalSpy arrived(&session, &FolderSession::currentResultsArrived);
    QVERIFY(session.flushPending());   // nothing changed: no write, nothing read

    // Another program adds a dog to the image on screen and an owl to another one.
    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, QStringLiteral("img1.png: cat dog; img3.png: owl"))));
    QTRY_COMPARE(session.imageState(m_images.at(2)).pending, 1);
    QTRY_COMPARE(arrived.size(), 1);
    const auto records = arrived.first().first().value<QList<Annotation>>();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().label, QStringLiteral("dog"));
    live.list += records;   // as the window's editor takes them

    // Taking them in is no change of this session's: nothing to write.
    const QByteArray file = Fixtures::readBytes(pendingFilePath(m_dir));
    QSignalSpy written(&session, &FolderSession::pendingWritten);
    QVERIFY(session.flushPending());
    QCOMPARE(written.size(), 0);
    // The user rejects the cat: it stays filed until the image is saved, and that write keeps
    // the other program's results.
    live.list.removeFirst();
    QVERIFY(session.flushPending());
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), QStringLiteral("img1.png: cat dog; img3.png: owl"));
    QVERIFY(session.saveImage(m_images.at(0), live.list));
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), QStringLiteral("img1.png: dog; img3.png: owl"));
    QVERIFY(Fixtures::readBytes(pendingFilePath(m_dir)) != file);
}

// A DOTA line that is no object it can read is kept where it was, not set aside with the file.
void TestFolderSession::dotaLinesSurviveASave()
{
    const QString image = m_tmp->path() + QStringLiteral("/dota/images/P1.png");
    const QString file = m_tmp->path() + QStringLiteral("/dota/labelTxt/P1.txt");
    QVERIFY(Fixtures::makeImage(image, 200, 100));
    const QByteArray head = "imagesource:GoogleEarth\ngsd:0.5\n\n10 10 50 10 50 30 10 30 plane 0\n";
    const QByteArray tail = "10 10 50 10 50 30 10 30 plane 2\n# checked by A\n";
    QVERIFY(Fixtures::writeBytes(file, head + tail));
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.openNow(QFileInfo(image).absolutePath());
    live.list = session.enterImage(image);
    QCOMPARE(live.list.size(), 1);
    live.list.append(box(QStringLiteral("ship"), QRectF(100, 50, 20, 10)));
    QVERIFY(session.saveImage(image, live.list));
    QCOMPARE(Fixtures::readBytes(file), head + "100 50 120 50 120 60 100 60 ship 0\n" + tail);
}

void TestFolderSession::backgroundApartFromUnlabelled_data()
{
    QTest::addColumn<QString>("yolo");       // of img1: its labels/img1.txt; "-": none
    QTest::addColumn<QString>("voc");        // its annotations/img1.xml; "-": none
    QTest::addColumn<bool>("inBackground");  // the window's scan; else the command line's look at once
    QTest::addColumn<bool>("background");
    QTest::addColumn<bool>("unlabelled");

    for (const bool window : {true, false}) {
        const QString how = window ? QStringLiteral("scanned") : QStringLiteral("at once");
        QTest::newRow(qPrintable(how + ": no label file, unlabelled")) << "-" << "-" << window << false << true;
        QTest::newRow(qPrintable(how + ": empty YOLO file, background")) << "" << "-" << window << true << false;
        QTest::newRow(qPrintable(how + ": VOC without objects, background"))
            << "-" << "<annotation><size><width>200</width><height>100</height></size></annotation>" << window << true
            << false;
        QTest::newRow(qPrintable(how + ": labelled, neither")) << "0 0.5 0.5 0.2 0.2\n" << "-" << window << false << false;
    }
}

// A label file without objects says the image was checked and is empty: it is a background
// image, not an unlabelled one (the auto-label scope and `label --unlabelled` skip it).
void TestFolderSession::backgroundApartFromUnlabelled()
{
    QFETCH(QString, yolo);
    QFETCH(QString, voc);
    QFETCH(bool, inBackground);
    QFETCH(bool, background);
    QFETCH(bool, unlabelled);
    const QString image = m_images.at(0);
    if (yolo != QStringLiteral("-"))
        QVERIFY(Fixtures::writeBytes(yoloLabelPath(image), yolo.toUtf8()));
    if (voc != QStringLiteral("-"))
        QVERIFY(Fixtures::writeBytes(vocXmlPath(image), voc.toUtf8()));

    FolderSession session;
    if (inBackground) {
        session.open(m_dir);
        QTRY_VERIFY(session.imageState(m_images.last()).known);
        QCOMPARE(session.imageState(image).isBackground(), background);
    } else {
        session.openNow(m_dir);
    }
    QCOMPARE(session.unlabelledImages().contains(image), unlabelled);
    QCOMPARE(session.labelledImages().contains(image), !background && !unlabelled);
    // The image shown and left again keeps its state.
    (void)session.enterImage(image);
    session.leaveImage();
    session.refreshImageState(image);
    QCOMPARE(session.imageState(image).isBackground(), background);
    QCOMPARE(session.unlabelledImages().contains(image), unlabelled);
}

void TestFolderSession::decidedResultWaitsForItsLabelFile_data()
{
    // img1 has two results; the user decides on the cat, the pending file is written (another
    // program's write or the throttle), and the program is killed before the image is saved.
    QTest::addColumn<QString>("decision");
    QTest::addColumn<QStringList>("afterKill");   // what a new session reads then
    QTest::addColumn<QStringList>("afterSave");   // what it reads once the image was saved
    QTest::newRow("confirmed") << "confirm" << QStringList{"cat*", "dog*"} << QStringList{"cat", "dog*"};
    QTest::newRow("confirmed and moved") << "move" << QStringList{"cat*", "dog*"} << QStringList{"cat", "dog*"};
    QTest::newRow("rejected") << "reject" << QStringList{"cat*", "dog*"} << QStringList{"dog*"};
}

void TestFolderSession::decidedResultWaitsForItsLabelFile()
{
    QFETCH(QString, decision);
    QFETCH(QStringList, afterKill);
    QFETCH(QStringList, afterSave);
    QVERIFY(writePendingFile(m_dir, pendingOf(m_dir, QStringLiteral("img1.png: cat dog"))));
    const auto readAfresh = [this] {
        FolderSession fresh;
        fresh.openNow(m_dir);
        return labelsMarkingPending(fresh.enterImage(m_images.at(0)));
    };
    {
        FolderSession session;
        LiveStub live;
        session.setLiveAnnotations(&live);
        session.openNow(m_dir);
        live.list = session.enterImage(m_images.at(0));
        QCOMPARE(labelsMarkingPending(live.list), (QStringList{"cat*", "dog*"}));
        if (decision == u"reject") {
            live.list.removeFirst();
        } else {
            live.list.first().pending = 0;
            if (decision == u"move")
                live.list.first().rect.translate(30, 5);
        }
        QVERIFY(session.flushPending());
        // Killed here: the cat is still a result, not lost.
        QCOMPARE(readAfresh(), afterKill);
        QCOMPARE(labelFormatOf(m_images.at(0)), LabelFormat::None);

        QVERIFY(session.saveImage(m_images.at(0), live.list));
        QCOMPARE(readAfresh(), afterSave);
        if (decision == u"move")
            QCOMPARE(loadAnnotations(m_images.at(0)).first().rect, QRectF(40, 15, 20, 20));
        QVERIFY(session.flushPending());
        session.leaveImage();
        QVERIFY(session.close());
    }
    QCOMPARE(readAfresh(), afterSave);
}

void TestFolderSession::markCheckedWritesAndTakesBack_data()
{
    QTest::addColumn<bool>("yolo");   // the folder's format
    QTest::addColumn<bool>("dota");   // a DOTA folder: images/ with labelTxt/ beside, whatever is chosen
    QTest::newRow("VOC: an annotation with its size and no object") << false << false;
    QTest::newRow("YOLO: an empty txt") << true << false;
    QTest::newRow("DOTA: an empty labelTxt file") << true << true;
}

void TestFolderSession::markCheckedWritesAndTakesBack()
{
    QFETCH(bool, yolo);
    QFETCH(bool, dota);
    QString image = m_images.at(1);
    if (dota) {
        image = m_tmp->path() + QStringLiteral("/DOTA/train/images/P0002.png");
        QVERIFY(Fixtures::makeImage(image, 200, 100));
        QVERIFY(Fixtures::writeBytes(m_tmp->path() + QStringLiteral("/DOTA/train/labelTxt/P0001.txt"),
                                     "10 10 50 10 50 30 10 30 plane 0\n"));
    }
    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.setFallbackYolo(yolo);
    session.openNow(QFileInfo(image).absolutePath());
    live.list = session.enterImage(image);
    const QString expected = dota ? dotaLabelPath(image) : (yolo ? yoloLabelPath(image) : vocXmlPath(image));

    // A shape drawn and taken back again says nothing: no file.
    QVERIFY(session.saveImage(image, live.list));
    QVERIFY(!QFileInfo::exists(expected));
    QVERIFY(session.unlabelledImages().contains(image));

    SaveReport report;
    const FolderSession::CheckedMark mark = session.markChecked(image, &report);
    QCOMPARE(mark.file, expected);
    QCOMPARE(report.labelFile, expected);
    const StoredAnnotations stored = readStoredAnnotations(image);
    QCOMPARE(stored.file, expected);
    QVERIFY(stored.complete());
    QVERIFY(stored.annotations.isEmpty());
    QCOMPARE(countAnnotations(image), 0);
    if (yolo || dota) {
        QCOMPARE(Fixtures::readBytes(expected), QByteArray());
    } else {
        const QByteArray xml = Fixtures::readBytes(expected);
        QVERIFY2(xml.contains("<width>200</width>") && !xml.contains("<object>"), xml.constData());
    }
    QVERIFY(session.imageState(image).isBackground());
    QVERIFY(!session.unlabelledImages().contains(image));
    // An image that has a label file is checked already: nothing is written over it.
    QCOMPARE(session.markChecked(image).file, QString());

    // Taken back: the file it wrote goes, and only that.
    QVERIFY(session.unmarkChecked(image, mark));
    QVERIFY(!QFileInfo::exists(expected));
    QVERIFY(!session.imageState(image).isBackground());
    QVERIFY(session.unlabelledImages().contains(image));
    QVERIFY(!session.unmarkChecked(image, mark));

    // A file somebody wrote over the mark meanwhile is theirs: it stays.
    const FolderSession::CheckedMark again = session.markChecked(image);
    QCOMPARE(again.file, expected);
    const LabelFormat format = dota ? LabelFormat::Dota : (yolo ? LabelFormat::Yolo : LabelFormat::Voc);
    QVERIFY(saveAnnotations(image, {box(QStringLiteral("cat"), QRectF(10, 10, 40, 30))}, format, {}, nullptr));
    QVERIFY(!session.unmarkChecked(image, again));
    QCOMPARE(countAnnotations(image), 1);
    // A drawn shape of the image is saved into its own label file, in its format.
    live.list = session.enterImage(image);
    live.list.append(box(QStringLiteral("ship"), QRectF(100, 20, 30, 10)));
    QVERIFY(session.saveImage(image, live.list));
    const StoredAnnotations saved = readStoredAnnotations(image);
    QCOMPARE(saved.file, expected);
    QVERIFY(!saved.annotations.isEmpty());
    QCOMPARE(saved.annotations.last().label, QStringLiteral("ship"));
    QCOMPARE(saved.annotations.last().rect, QRectF(100, 20, 30, 10));
}

// A category added in one dataset is offered (panel rows, keys 1-9) in another only when that one's
// class list names it; a dataset without one starts from its own labels' names. Both label checks
// hold labels against the same answer. A labelme folder's list may be labelme's own file beside it,
// which is only ever read.
void TestFolderSession::categoriesStayWithTheirDataset_data()
{
    QTest::addColumn<QString>("namesFile");    // in the second dataset; empty: none
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QStringList>("labels");   // the first image's label file there
    QTest::addColumn<bool>("labelme");         // that file is labelme's (the sample: "person" editable)
    QTest::addColumn<QStringList>("rows");     // offered there
    QTest::addColumn<QStringList>("checked");  // what a check holds its labels against

    QTest::newRow("no class list: its own labels' names")
        << "" << QByteArray() << QStringList{"dog"} << false << QStringList{"dog"} << QStringList{"dog"};
    QTest::newRow("no class list, no labels: nothing offered")
        << "" << QByteArray() << QStringList() << false << QStringList() << QStringList();
    QTest::newRow("its classes.txt names the category")
        << "labels/classes.txt" << QByteArray("zebra\nhorse\n") << QStringList() << false
        << QStringList{"zebra", "horse"} << QStringList{"zebra", "horse"};
    QTest::newRow("data.yaml: its class list, then its labels")
        << "data.yaml" << QByteArray("names: [horse]\n") << QStringList{"dog"} << false
        << QStringList{"horse", "dog"} << QStringList{"horse"};
    QTest::newRow("labelme: labels.txt beside the images, then its labels")
        << "labels.txt" << QByteArray("__ignore__\r\n_background_\r\nhorse\r\nzebra\r\n") << QStringList{"person"}
        << true << QStringList{"horse", "zebra", "person"} << QStringList{"horse", "zebra"};
    QTest::newRow("labelme: labels.txt in the folder above")
        << "../labels.txt" << QByteArray("horse\n") << QStringList{"person"} << true
        << QStringList{"horse", "person"} << QStringList{"horse"};
    QTest::newRow("labelme: flags.txt without labels.txt")
        << "flags.txt" << QByteArray("__ignore__\nzebra\n") << QStringList{"person"} << true
        << QStringList{"zebra", "person"} << QStringList{"zebra"};
    QTest::newRow("VOC folder: a labels.txt is no class list")
        << "labels.txt" << QByteArray("horse\n") << QStringList{"dog"} << false << QStringList{"dog"}
        << QStringList{"dog"};
}

void TestFolderSession::categoriesStayWithTheirDataset()
{
    QFETCH(QString, namesFile);
    QFETCH(QByteArray, names);
    QFETCH(QStringList, labels);
    QFETCH(bool, labelme);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, checked);

    const QString other = m_tmp->path() + QStringLiteral("/other/set");
    const QString otherImage = other + QStringLiteral("/a.png");
    QVERIFY(Fixtures::makeImage(otherImage, 200, 100));
    const QString namesPath = QDir::cleanPath(other + QLatin1Char('/') + namesFile);
    if (!namesFile.isEmpty())
        QVERIFY(Fixtures::writeBytes(namesPath, names));
    if (labelme)
        QVERIFY(Fixtures::writeBytes(labelmeJsonPath(otherImage), LabelmeSamples::labelme()));
    else if (!labels.isEmpty())
        QVERIFY(Fixtures::writeBytes(vocXmlPath(otherImage), SessionFixture::voc(labels)));
    QVERIFY(Fixtures::writeBytes(vocXmlPath(m_images.at(0)), SessionFixture::voc({QStringLiteral("cat")})));

    FolderSession session;
    DatasetCategories *categories = session.categories();
    QList<Annotation> shown;
    const auto show = [&](const QString &dir, const QString &image) {
        QSignalSpy finished(&session, &FolderSession::listingFinished);
        session.open(dir);
        QVERIFY(finished.wait());
        shown = session.enterImage(image);
        categories->showImage(image);
    };
    show(m_dir, m_images.at(0));
    categories->history()->remember(QStringLiteral("zebra"));
    const QStringList first{QStringLiteral("cat"), QStringLiteral("zebra")};
    QCOMPARE(categories->rows(), first);

    show(other, otherImage);
    // The folder's format, as the state scan finds it.
    QTRY_COMPARE(labelFormatName(session.folderFormat()), QString(labelme ? "labelme" : "voc"));
    QCOMPARE(categories->rows(), rows);
    QCOMPARE(session.classNames(), rows);   // what a save starts a class list from
    QCOMPARE(categories->checkedClasses(), checked);
    if (labelme) {
        // A category it lacks is saved and offered; labelme's file stays as it was.
        shown.append(box(QStringLiteral("emu"), QRectF(10, 10, 30, 20)));
        QVERIFY(session.saveImage(otherImage, shown));
        QCOMPARE(loadAnnotations(otherImage).last().label, QStringLiteral("emu"));
        QCOMPARE(Fixtures::readBytes(namesPath), names);
        QVERIFY(!QFileInfo::exists(other + QStringLiteral("/labels/classes.txt")));
        QVERIFY(!QFileInfo::exists(other + QStringLiteral("/classes.txt")));
    }

    // Coming back finds the first dataset's categories as they were.
    show(m_dir, m_images.at(1));
    QCOMPARE(categories->rows(), first);
}

// The window's categories are stored with the dataset they belong to: a restart on another dataset
// does not offer them; names stored before they were kept per dataset go to the first one opened.
void TestFolderSession::storedCategoriesStayWithTheirDataset_data()
{
    QTest::addColumn<bool>("ownerKnown");   // the settings say which dataset the names are of
    QTest::addColumn<QString>("reopened");  // the dataset opened after the restart
    QTest::addColumn<QStringList>("rows");

    const QStringList both{"cat", "zebra"};
    QTest::newRow("the same dataset: its names") << true << "ds" << both;
    QTest::newRow("another dataset: none of them") << true << "other" << QStringList();
    QTest::newRow("stored without a dataset: the first opened takes them") << false << "other" << both;
    QTest::newRow("stored without a dataset, the same one") << false << "ds" << both;
}

void TestFolderSession::storedCategoriesStayWithTheirDataset()
{
    QFETCH(bool, ownerKnown);
    QFETCH(QString, reopened);
    QFETCH(QStringList, rows);

    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
    const QString other = m_tmp->path() + QStringLiteral("/other");
    QVERIFY(Fixtures::makeImage(other + QStringLiteral("/a.png"), 200, 100));
    {
        DatasetCategories categories;
        categories.restoreStored({QStringLiteral("cat")}, {});
        categories.openFolder(m_dir);
        categories.history()->remember(QStringLiteral("zebra"));
    }
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    QCOMPARE(settings.value(QStringLiteral("labels")).toStringList(), QStringList({"cat", "zebra"}));
    if (!ownerKnown)
        settings.remove(QStringLiteral("labelsDataset"));
    settings.sync();

    DatasetCategories restarted;
    restarted.restoreStored(settings.value(QStringLiteral("labels")).toStringList(), {});
    restarted.openFolder(m_tmp->path() + QLatin1Char('/') + reopened);
    QCOMPARE(restarted.rows(), rows);
    // Back in the first dataset, its names come back from the settings.
    restarted.openFolder(m_dir);
    QCOMPARE(restarted.history()->labels(), QStringList({"cat", "zebra"}));
}


BRINDLE_TEST_MAIN(TestFolderSession)
#include "tst_foldersession.moc"
