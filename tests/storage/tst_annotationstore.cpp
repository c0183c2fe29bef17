#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray vocOneDog = "<annotation><object><name>dog</name><bndbox><xmin>10</xmin><ymin>10</ymin>"
                             "<xmax>20</xmax><ymax>20</ymax></bndbox></object></annotation>";

void setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

} // namespace

class TestAnnotationStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void vocWinsOverYolo();
    void unreadableVocHidesYolo();
    void newestCandidateReadAndStaleSiblingRemoved();
    void saveConvertsFormats_data();
    void saveConvertsFormats();
    void countAnnotations_data();
    void countAnnotations();
    void failedSaveKeepsFiles_data();
    void failedSaveKeepsFiles();
    void undeletableVocFailsYoloSave();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;   // <tmp>/ds/images/pic.png
    QString m_mapped;  // <tmp>/ds/labels/pic.txt
    QString m_sibling; // <tmp>/ds/images/labels/pic.txt
    QString m_xml;     // <tmp>/ds/images/annotations/pic.xml
};

void TestAnnotationStore::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    const QString ds = m_tmp->path() + "/ds";
    m_image = ds + "/images/pic.png";
    m_mapped = ds + "/labels/pic.txt";
    m_sibling = ds + "/images/labels/pic.txt";
    m_xml = ds + "/images/annotations/pic.xml";
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/classes.txt", "cat\ndog\n"));
}

void TestAnnotationStore::vocWinsOverYolo()
{
    QVERIFY(Fixtures::writeBytes(m_mapped, "0 0.5 0.5 0.5 0.5\n0 0.5 0.5 0.1 0.1\n1 0.5 0.5 0.1 0.1\n"));
    QVERIFY(Fixtures::writeBytes(m_xml, vocOneDog));
    const QList<Annotation> got = loadAnnotations(m_image);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].label, QString("dog"));
    QCOMPARE(::countAnnotations(m_image), 1);
}

void TestAnnotationStore::unreadableVocHidesYolo()
{
    QVERIFY(Fixtures::writeBytes(m_mapped, "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(QDir().mkpath(m_xml)); // exists, cannot be opened as a file
    QVERIFY(loadAnnotations(m_image).isEmpty());
    QCOMPARE(::countAnnotations(m_image), -1);
}

void TestAnnotationStore::newestCandidateReadAndStaleSiblingRemoved()
{
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(Fixtures::writeBytes(m_mapped, "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::writeBytes(m_sibling, "1 0.5 0.5 0.5 0.5\n1 0.5 0.5 0.2 0.2\n"));
    setModified(m_mapped, now.addSecs(-120));
    setModified(m_sibling, now.addSecs(-60));

    QList<Annotation> got = loadAnnotations(m_image);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].label, QString("dog"));
    QCOMPARE(::countAnnotations(m_image), 2);

    QVERIFY(saveAnnotations(m_image, got, true, {}));
    QVERIFY(!QFile::exists(m_sibling));
    QCOMPARE(yoloLabelCandidates(m_image), QStringList{m_mapped});
    QCOMPARE(Fixtures::readBytes(m_mapped),
             QByteArray("1 0.500000 0.500000 0.500000 0.500000\n1 0.500000 0.500000 0.200000 0.200000\n"));
}

void TestAnnotationStore::saveConvertsFormats_data()
{
    QTest::addColumn<bool>("toYolo");          // an edit: the format of a new file
    QTest::addColumn<QStringList>("before");   // of "mapped", "sibling", "xml"
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("edit");            // saved as an edit, not a conversion
    QTest::newRow("yolo removes voc and sibling") << true << QStringList{"sibling", "xml"} << QStringList{"mapped"} << false;
    QTest::newRow("yolo over yolo") << true << QStringList{"mapped"} << QStringList{"mapped"} << false;
    QTest::newRow("voc removes both yolo files") << false << QStringList{"mapped", "sibling"} << QStringList{"xml"} << false;
    QTest::newRow("voc over voc") << false << QStringList{"xml"} << QStringList{"xml"} << false;
    QTest::newRow("voc from nothing") << false << QStringList{} << QStringList{"xml"} << false;
    // "link": images/labels is a link to ../labels, so mapped and sibling are one file.
    QTest::newRow("yolo, sibling directory linked to the mapped one")
        << true << QStringList{"link", "mapped"} << QStringList{"mapped", "sibling"} << false;
    QTest::newRow("voc, sibling directory linked to the mapped one")
        << false << QStringList{"link", "mapped"} << QStringList{"xml"} << false;
    // An edit keeps the format of the file found and never removes the other format's files.
    QTest::newRow("edit, yolo for new files: voc stays voc, yolo file kept")
        << true << QStringList{"mapped", "xml"} << QStringList{"mapped", "xml"} << true;
    QTest::newRow("edit, voc for new files: yolo stays yolo")
        << false << QStringList{"mapped"} << QStringList{"mapped"} << true;
    QTest::newRow("edit, voc for new files: newer sibling of ours replaced by ours")
        << false << QStringList{"sibling"} << QStringList{"mapped"} << true;
    QTest::newRow("edit, yolo for new files: new file") << true << QStringList{} << QStringList{"mapped"} << true;
    QTest::newRow("edit, voc for new files: new file") << false << QStringList{} << QStringList{"xml"} << true;
}

void TestAnnotationStore::saveConvertsFormats()
{
    QFETCH(bool, toYolo);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(bool, edit);
    const QHash<QString, QString> files{{"mapped", m_mapped}, {"sibling", m_sibling}, {"xml", m_xml}};
    for (const QString &which : before) {
        if (which == "link") {
            if (!QFile::link("../labels", QFileInfo(m_sibling).absolutePath()))
                QSKIP("no symbolic links here");
            continue;
        }
        QVERIFY(Fixtures::writeBytes(files[which], which == "xml" ? vocOneDog : QByteArray("1 0.5 0.5 0.1 0.1\n")));
    }

    const QList<Annotation> stored = {box("cat", QRectF(50, 25, 100, 50)), box("bird", QRectF(0, 0, 10, 10))};
    bool wroteYolo = toYolo;
    if (edit) {
        const SaveTarget target = editSaveTarget(m_image, toYolo);
        wroteYolo = target.format == LabelFormat::Yolo;
        QVERIFY(saveEdit(m_image, stored, target, {}));
    } else {
        QVERIFY(saveAnnotations(m_image, stored, toYolo, {}));
    }
    QCOMPARE(wroteYolo, !after.contains("xml"));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(QFile::exists(it.value()), after.contains(it.key()));

    const QList<Annotation> got = loadAnnotations(m_image);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].label, QString("cat"));
    QCOMPARE(got[0].rect, QRectF(50, 25, 100, 50));
    QCOMPARE(got[1].label, QString("bird"));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/classes.txt"),
             QByteArray(wroteYolo ? "cat\ndog\nbird\n" : "cat\ndog\n"));
}

void TestAnnotationStore::countAnnotations_data()
{
    QTest::addColumn<QByteArray>("yolo");  // null: no file
    QTest::addColumn<QByteArray>("voc");   // null: no file
    QTest::addColumn<int>("expected");
    QTest::newRow("no file") << QByteArray() << QByteArray() << -1;
    QTest::newRow("empty yolo file") << QByteArray("") << QByteArray() << 0;
    QTest::newRow("yolo lines") << QByteArray("0 1 1 1 1\n\n1 1 1 1 1\n") << QByteArray() << 2;
    QTest::newRow("voc without objects") << QByteArray() << QByteArray("<annotation/>") << 0;
    QTest::newRow("voc counts, yolo ignored") << QByteArray("0 1 1 1 1\n") << vocOneDog << 1;
}

void TestAnnotationStore::countAnnotations()
{
    QFETCH(QByteArray, yolo);
    QFETCH(QByteArray, voc);
    QFETCH(int, expected);
    if (!yolo.isNull())
        QVERIFY(Fixtures::writeBytes(m_mapped, yolo));
    if (!voc.isNull())
        QVERIFY(Fixtures::writeBytes(m_xml, voc));
    QCOMPARE(::countAnnotations(m_image), expected);
}

void TestAnnotationStore::failedSaveKeepsFiles_data()
{
    QTest::addColumn<bool>("toYolo");
    QTest::addColumn<QString>("lockedDir"); // made read-only; empty for none
    QTest::addColumn<bool>("classesIsDirectory");
    QTest::addColumn<bool>("brokenImage");
    QTest::newRow("yolo into read-only labels directory") << true << "ds/labels" << false << false;
    QTest::newRow("yolo, class list cannot be replaced") << true << "" << true << false;
    QTest::newRow("yolo, image without size") << true << "" << false << true;
    QTest::newRow("voc into read-only annotations directory") << false << "ds/images/annotations" << false << false;
}

void TestAnnotationStore::failedSaveKeepsFiles()
{
    QFETCH(bool, toYolo);
    QFETCH(QString, lockedDir);
    QFETCH(bool, classesIsDirectory);
    QFETCH(bool, brokenImage);

    // The same labels in both formats (a state another tool may leave behind).
    const QByteArray oldYolo = "0 0.5 0.5 0.5 0.5\n";
    const QByteArray oldSibling = "1 0.5 0.5 0.5 0.5\n";
    const QByteArray classes = "cat\ndog\n";
    QVERIFY(Fixtures::writeBytes(m_mapped, oldYolo));
    QVERIFY(Fixtures::writeBytes(m_sibling, oldSibling));
    QVERIFY(Fixtures::writeBytes(m_xml, vocOneDog));
    const QString classesPath = m_tmp->path() + "/ds/labels/classes.txt";
    if (classesIsDirectory) {
        QVERIFY(QFile::remove(classesPath));
        QVERIFY(QDir().mkpath(classesPath));
    }
    if (brokenImage)
        QVERIFY(Fixtures::writeBytes(m_image, "broken"));

    {
        std::unique_ptr<Fixtures::ReadOnlyDirectory> lock;
        if (!lockedDir.isEmpty()) {
            lock = std::make_unique<Fixtures::ReadOnlyDirectory>(m_tmp->path() + "/" + lockedDir);
            if (!lock->ok())
                QSKIP("cannot make a directory read-only here");
        }
        QVERIFY(!saveAnnotations(m_image, {box("bird", QRectF(1, 1, 50, 50))}, toYolo, {"bird"}));
    }

    QCOMPARE(Fixtures::readBytes(m_mapped), oldYolo);
    QCOMPARE(Fixtures::readBytes(m_sibling), oldSibling);
    QCOMPARE(Fixtures::readBytes(m_xml), vocOneDog);
    if (!classesIsDirectory)
        QCOMPARE(Fixtures::readBytes(classesPath), classes);
    // No temporary file left behind.
    QCOMPARE(QDir(m_tmp->path() + "/ds/labels").entryList(QDir::Files | QDir::Hidden),
             classesIsDirectory ? QStringList{"pic.txt"} : QStringList({"classes.txt", "pic.txt"}));
}

void TestAnnotationStore::undeletableVocFailsYoloSave()
{
    // A VOC file that stays would be read instead of the new labels: the save must not pass as done.
    QVERIFY(Fixtures::writeBytes(m_xml, vocOneDog));
    Fixtures::ReadOnlyDirectory lock(m_tmp->path() + "/ds/images/annotations");
    if (!lock.ok())
        QSKIP("cannot make a directory read-only here");
    QVERIFY(!saveAnnotations(m_image, {box("cat", QRectF(50, 25, 100, 50))}, true, {}));
    // Refused before anything was written.
    QVERIFY(!QFile::exists(m_mapped));
    QCOMPARE(Fixtures::readBytes(m_xml), vocOneDog);
}

BRINDLE_TEST_MAIN(TestAnnotationStore)
#include "tst_annotationstore.moc"
