#include "session/foldersession.h"
#include "session/liveannotations.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/layoutfixtures.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/livestub.h"
#include "session/sessionfixture.h"
#include "testmain.h"

#include <QDir>
#include <QSignalSpy>

// Where the session writes an edit, and the saves it refuses without touching a file.
class TestSaveTargets : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void saveFollowsDataset_data();
    void saveFollowsDataset();
    void unreadableNamesFileRefusesSave_data();
    void unreadableNamesFileRefusesSave();
    void poseDatasetHoldsBoxesOnly_data();
    void poseDatasetHoldsBoxesOnly();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};

void TestSaveTargets::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images = SessionFixture::makeImages(m_dir);
    QCOMPARE(m_images.size(), 4);
}

void TestSaveTargets::saveFollowsDataset_data()
{
    QTest::addColumn<QString>("layout");      // Layouts::build; empty: a folder of images without labels
    QTest::addColumn<bool>("fallbackYolo");   // the format the user last chose elsewhere
    QTest::addColumn<bool>("newImage");       // edit an image without a label file
    QTest::addColumn<QString>("expect");      // the folder's format and the format written

    QTest::newRow("Ultralytics, last choice VOC: its txt edited in place") << "ultralytics list" << false << false << "yolo";
    QTest::newRow("VOCdevkit, last choice YOLO: its xml edited in place") << "voc devkit" << true << false << "voc";
    QTest::newRow("Ultralytics, last choice VOC: a new image gets YOLO") << "ultralytics list" << false << true << "yolo";
    QTest::newRow("VOCdevkit, last choice YOLO: a new image gets VOC") << "voc devkit" << true << true << "voc";
    QTest::newRow("labelme, last choice YOLO: its json edited in place") << "labelme beside" << true << false << "labelme";
    QTest::newRow("labelme, last choice VOC: a new image gets labelme") << "labelme beside" << false << true << "labelme";
    QTest::newRow("no labels yet: the last choice") << "" << true << true << "yolo";
}

// An edit is saved in the format of the image's label file, at its place; an image without one
// gets the format of the folder's label files. Nothing else is written, converted or removed.
void TestSaveTargets::saveFollowsDataset()
{
    QFETCH(QString, layout);
    QFETCH(bool, fallbackYolo);
    QFETCH(bool, newImage);
    QFETCH(QString, expect);
    const bool expectYolo = expect == u"yolo";
    const QString root = m_tmp->path() + QStringLiteral("/other");
    Layouts::Layout l;
    if (layout.isEmpty()) {
        l.image = m_images.first();
    } else {
        l = Layouts::build(root, layout);
        QVERIFY(!l.image.isEmpty());
    }
    if (l.labelFile.endsWith(QStringLiteral(".xml"))) {
        // Another tool's flag that only VOC can hold.
        QByteArray xml = Layouts::vocXml({QStringLiteral("dog")});
        xml.replace("<truncated>0</truncated>", "<truncated>0</truncated><difficult>1</difficult>");
        QVERIFY(Fixtures::writeBytes(l.labelFile, xml));
    }
    const QString dir = QFileInfo(l.image).absolutePath();
    QString image = l.image;
    if (newImage && !layout.isEmpty()) {
        image = dir + QStringLiteral("/zz-new.png");
        QVERIFY(Fixtures::makeImage(image, 200, 100));
    }
    const QStringList filesBefore = l.labelFile.isEmpty() ? QStringList() : QStringList{l.labelFile} + l.untouchable;
    QHash<QString, QByteArray> untouched;
    for (const QString &file : std::as_const(l.untouchable))
        untouched.insert(file, Fixtures::readBytes(file));

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.setFallbackYolo(fallbackYolo);
    QSignalSpy finished(&session, &FolderSession::listingFinished);
    session.open(dir);
    QVERIFY(finished.wait());
    QTRY_COMPARE(labelFormatName(session.folderFormat()), expect);

    live.list = session.enterImage(image);
    const bool hadDifficult = !live.list.isEmpty() && live.list.first().difficult;
    // A category the dataset's list names: a new one would have to join its data.yaml first.
    const bool theirNames = layout.startsWith(QStringLiteral("ultralytics"));
    live.list.append(box(theirNames ? QStringLiteral("car") : QStringLiteral("dog"), QRectF(120, 50, 40, 30)));
    if (!live.list.first().label.isEmpty())
        live.list.first().rect.translate(1, 0);   // a nudge
    SaveReport report;
    QVERIFY(session.saveImage(image, live.list, &report));

    // A new file lands beside the folder's other label files (Annotations/ of a VOCdevkit).
    QString written = l.labelFile;
    if (newImage) {
        written = layout.isEmpty() ? yoloLabelPath(image)
                                   : QFileInfo(l.labelFile).absolutePath() + "/zz-new."
                                         + (expectYolo ? "txt" : expect == u"voc" ? "xml" : "json");
    }
    QCOMPARE(report.labelFile, written);
    QCOMPARE(readStoredAnnotations(image).file, written);
    QCOMPARE(loadAnnotations(image).size(), live.list.size());
    if (hadDifficult)
        QVERIFY(loadAnnotations(image).first().difficult);
    for (const QString &file : filesBefore)
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    for (auto it = untouched.cbegin(); it != untouched.cend(); ++it)
        QCOMPARE(Fixtures::readBytes(it.key()), it.value());
    // Nothing of the other format was made.
    QCOMPARE(QFileInfo::exists(vocXmlPath(image)), expect == u"voc" && written == vocXmlPath(image));
    QCOMPARE(QFileInfo::exists(yoloLabelPath(image)), expectYolo && written == yoloLabelPath(image));
    // Their names file stays the one class list.
    if (!expectYolo || theirNames)
        QVERIFY(!QFileInfo::exists(labelsDirFor(image) + QStringLiteral("/classes.txt")));
}

void TestSaveTargets::unreadableNamesFileRefusesSave_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("namesFile");   // relative to the layouts' root
    QTest::addColumn<QByteArray>("content");  // empty: made a folder, which cannot be read as a file

    QTest::newRow("data.yaml whose names yaml-cpp cannot parse")
        << "ultralytics list" << "ul/data.yaml" << QByteArray("path: ../ul\nnames: [person, car\n");
    QTest::newRow("dataset.yaml whose names yaml-cpp cannot parse")
        << "roboflow" << "rf/dataset.yaml" << QByteArray("names: {0: helmet, 1: [head\n");
    QTest::newRow("obj.names that cannot be read") << "yolo 1.1" << "task/obj.names" << QByteArray();
    QTest::newRow("classes.txt that cannot be read") << "labelimg yolo" << "shots/classes.txt" << QByteArray();
}

// A class-names file that cannot be read is the whole dataset's: it is never moved aside or
// rewritten, and the image's save refuses, naming it.
void TestSaveTargets::unreadableNamesFileRefusesSave()
{
    QFETCH(QString, layout);
    QFETCH(QString, namesFile);
    QFETCH(QByteArray, content);
    const QString root = m_tmp->path() + QStringLiteral("/other");
    const Layouts::Layout l = Layouts::build(root, layout);
    QVERIFY(!l.image.isEmpty());
    const QString names = root + QLatin1Char('/') + namesFile;
    if (namesFile.endsWith(QStringLiteral("dataset.yaml")))
        QVERIFY(QFile::remove(root + QStringLiteral("/rf/data.yaml")));
    QFile::remove(names);
    if (content.isEmpty())
        QVERIFY(QDir().mkpath(names));
    else
        QVERIFY(Fixtures::writeBytes(names, content));
    const QByteArray labelsBefore = Fixtures::readBytes(l.labelFile);
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files");
    const QStringList trashBefore = QDir(trash).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    QSignalSpy notices(&session, &FolderSession::notice);
    session.openNow(QFileInfo(l.image).absolutePath());
    live.list = session.enterImage(l.image);
    QCOMPARE(notices.size(), 1);
    const QString told = notices.first().first().toString();
    QVERIFY2(told.contains(QDir::toNativeSeparators(names)) && told.contains(QStringLiteral("类别")), qPrintable(told));

    live.list.append(box(QStringLiteral("bird"), QRectF(120, 50, 40, 30)));
    SaveReport report;
    QVERIFY(!session.saveImage(l.image, live.list, &report));
    QCOMPARE(report.unreadableNamesFile, names);
    QVERIFY(QFileInfo::exists(names));
    if (!content.isEmpty())
        QCOMPARE(Fixtures::readBytes(names), content);
    QCOMPARE(Fixtures::readBytes(l.labelFile), labelsBefore);
    QCOMPARE(QDir(trash).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), trashBefore);
    QVERIFY(!QFileInfo::exists(labelsDirFor(l.image) + QStringLiteral("/classes.txt")) || namesFile.endsWith("classes.txt"));
}

void TestSaveTargets::poseDatasetHoldsBoxesOnly_data()
{
    QTest::addColumn<QByteArray>("yaml");    // ds/data.yaml
    QTest::addColumn<QString>("labels");     // the image's label file beforehand: yolo, voc or none
    QTest::addColumn<bool>("refused");       // outlines refused there, the data.yaml named
    const QByteArray pose("names: [person]\nkpt_shape: [3, 3]\n");
    const QByteArray plain("names: [person]\n");
    QTest::newRow("pose dataset, its YOLO rows") << pose << "yolo" << true;
    QTest::newRow("pose dataset, an image without labels gets YOLO rows") << pose << "none" << true;
    QTest::newRow("pose dataset, an image with a VOC file holds outlines") << pose << "voc" << false;
    QTest::newRow("plain Ultralytics dataset") << plain << "yolo" << false;
}

// A pose dataset's rows are boxes with keypoints: the session says so before anything is drawn,
// and a save holding a polygon changes nothing and names the data.yaml that declares them.
void TestSaveTargets::poseDatasetHoldsBoxesOnly()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QString, labels);
    QFETCH(bool, refused);
    const QString yamlPath = m_dir + QStringLiteral("/data.yaml");
    QVERIFY(Fixtures::writeBytes(yamlPath, yaml));
    const QString image = m_images.first();
    const bool pose = yaml.contains("kpt_shape");
    QString file;
    if (labels == u"yolo") {
        file = yoloLabelPath(image);
        QVERIFY(Fixtures::writeBytes(file, pose ? poseRow(0, 3, 3) : QByteArray("0 0.5 0.5 0.2 0.4\n")));
    } else if (labels == u"voc") {
        file = vocXmlPath(image);
        QVERIFY(Fixtures::writeBytes(file, SessionFixture::voc({QStringLiteral("person")})));
    }
    const QByteArray before = file.isEmpty() ? QByteArray() : Fixtures::readBytes(file);

    FolderSession session;
    LiveStub live;
    session.setLiveAnnotations(&live);
    session.setFallbackYolo(true);
    session.openNow(m_dir);
    live.list = session.enterImage(image);
    QCOMPARE(session.keypointRowsFile(image), refused ? yamlPath : QString());

    live.list.append(polygon(QStringLiteral("person"), {{120, 10}, {180, 10}, {150, 60}}));
    SaveReport report;
    QCOMPARE(session.saveImage(image, live.list, &report), !refused);
    QCOMPARE(report.keypointRowsFile, refused ? yamlPath : QString());
    if (refused) {
        if (file.isEmpty())
            QVERIFY(!QFileInfo::exists(yoloLabelPath(image)));
        else
            QCOMPARE(Fixtures::readBytes(file), before);
    } else {
        const QList<Annotation> stored = loadAnnotations(image);
        QCOMPARE(stored.size(), 2);
        QVERIFY(stored.last().isPolygon());
    }
}

BRINDLE_TEST_MAIN(TestSaveTargets)
#include "tst_savetargets.moc"
