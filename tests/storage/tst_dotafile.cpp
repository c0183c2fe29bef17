#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/labelconversion.h"

#include "layoutfixtures.h"
#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QPolygonF>
#include <QTemporaryDir>
#include <QtTest>

// DOTA labelTxt files: read as written, saved back byte for byte, converted to and from YOLO and
// VOC within a pixel, and found for an image of an images/ folder.
class TestDotaFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsRows_data();
    void readsRows();
    void savedBackUnchanged_data();
    void savedBackUnchanged();
    void editChangesOnlyItsLine();
    void editsKeepOtherLines_data();
    void editsKeepOtherLines();
    void writes_data();
    void writes();
    void roundTrips_data();
    void roundTrips();
    void newFilesOfADotaFolder_data();
    void newFilesOfADotaFolder();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TestDotaFile::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
}

void TestDotaFile::readsRows_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<int>("kind");        // -1: not an object line
    QTest::addColumn<QList<QPointF>>("corners");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("difficult");
    const QList<QPointF> diamond{{60, 10}, {90, 40}, {60, 70}, {30, 40}};
    QTest::newRow("turned box") << QByteArray("60 10 90 40 60 70 30 40 plane 0") << int(Annotation::Rotated)
                                << diamond << "plane" << false;
    QTest::newRow("first corner kept, anticlockwise")
        << QByteArray("30 40 60 70 90 40 60 10 plane 0") << int(Annotation::Rotated)
        << QList<QPointF>{{30, 40}, {60, 70}, {90, 40}, {60, 10}} << "plane" << false;
    QTest::newRow("upright box from its lower right, difficult")
        << QByteArray("190.0 95.0 160.0 95.0 160.0 80.0 190.0 80.0 small-vehicle 1") << int(Annotation::Rotated)
        << QList<QPointF>{{190, 95}, {160, 95}, {160, 80}, {190, 80}} << "small-vehicle" << true;
    QTest::newRow("quadrilateral is a polygon")
        << QByteArray("100 20 140 25 150 60 105 55 harbor 0") << int(Annotation::Polygon)
        << QList<QPointF>{{100, 20}, {140, 25}, {150, 60}, {105, 55}} << "harbor" << false;
    QTest::newRow("corner outside the image kept")
        << QByteArray("-4.5 10 60 10 60 40 -4.5 40 ship 0") << int(Annotation::Rotated)
        << QList<QPointF>{{-4.5, 10}, {60, 10}, {60, 40}, {-4.5, 40}} << "ship" << false;
    QTest::newRow("without difficult, tabs") << QByteArray("10\t10 50 10 50 30 10 30 plane") << int(Annotation::Rotated)
                                             << QList<QPointF>{{10, 10}, {50, 10}, {50, 30}, {10, 30}} << "plane"
                                             << false;
    QTest::newRow("too few fields") << QByteArray("10 10 50 10 50 30 plane 0") << -1 << QList<QPointF>() << "" << false;
    QTest::newRow("difficult is no flag") << QByteArray("10 10 50 10 50 30 10 30 plane 2") << -1 << QList<QPointF>()
                                          << "" << false;
    QTest::newRow("not a number") << QByteArray("10 10 50 nan 50 30 10 30 plane 0") << -1 << QList<QPointF>() << ""
                                  << false;
    QTest::newRow("extra field") << QByteArray("10 10 50 10 50 30 10 30 plane 0 7") << -1 << QList<QPointF>() << ""
                                 << false;
}

void TestDotaFile::readsRows()
{
    QFETCH(QByteArray, row);
    QFETCH(int, kind);
    QFETCH(QList<QPointF>, corners);
    QFETCH(QString, label);
    QFETCH(bool, difficult);
    const QByteArray bytes = "imagesource:GoogleEarth\r\ngsd:0.5\r\n" + row + "\r\n5 5 9 5 9 8 5 8 tail 0\r\n";
    ReadProblem problem;
    const QList<Annotation> read = readDotaBytes(bytes, &problem);
    QCOMPARE(read.size(), kind < 0 ? 1 : 2);
    QCOMPARE(read.last().label, QStringLiteral("tail"));
    if (kind < 0) {
        QCOMPARE(problem.kind, ReadProblem::UnusableLine);
        QCOMPARE(problem.at, 3);
        return;
    }
    QVERIFY(problem.isNone());
    const Annotation &a = read.first();
    QCOMPARE(int(a.kind), kind);
    QCOMPARE(a.points, corners);
    QCOMPARE(a.label, label);
    QCOMPARE(a.difficult, difficult);
    QCOMPARE(a.rect, QPolygonF(corners).boundingRect());
}

void TestDotaFile::savedBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("v1.5 sample with header") << Layouts::dotaSample();
    QTest::newRow("v1.0 integers") << QByteArray("imagesource:GoogleEarth\ngsd:0.146343590398\n"
                                                 "2753 2408 2861 2385 2888 2468 2805 2502 plane 0\n"
                                                 "12 7 40 7 40 30 12 30 large-vehicle 1\n");
    QTest::newRow("windows line ends, no header") << QByteArray("1.5 2 11.5 2 11.5 9 1.5 9 ship 0\r\n");
    QTest::newRow("fractions and .0") << QByteArray("1.25 2.0 11.25 2.0 11.25 9.5 1.25 9.5 ship 0\n");
    QTest::newRow("only the header") << QByteArray("imagesource:GoogleEarth\ngsd:0.146343590398\n");
    QTest::newRow("blank lines stay") << QByteArray("imagesource:GoogleEarth\n\ngsd:0.5\n\n1 2 11 2 11 9 1 9 ship 0\n\n");
    QTest::newRow("each line's own number style") << QByteArray("1.50 2 11.5 2 11.5 9 1.5 9 ship 0\n"
                                                                "1.0 2.0 11.0 2.0 11.0 9.0 1.0 9.0 ship 0\n");
}

void TestDotaFile::savedBackUnchanged()
{
    QFETCH(QByteArray, bytes);
    const QString path = m_tmp->path() + "/labelTxt/P0002.txt";
    QVERIFY(Fixtures::writeBytes(path, bytes));
    ReadProblem problem;
    const QList<Annotation> read = readDotaFile(path, &problem);
    QVERIFY(problem.isNone());
    QCOMPARE(countDotaObjects(path), int(read.size()));
    QVERIFY(writeDotaFile(path, read, m_tmp->path()));
    QCOMPARE(Fixtures::readBytes(path), bytes);
}

// The window's road: the sample opens as shipped, one shape moves, only its line changes.
void TestDotaFile::editChangesOnlyItsLine()
{
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "dota");
    QVERIFY(!l.image.isEmpty());
    QList<Annotation> read = loadAnnotations(l.image);
    QCOMPARE(read.size(), 3);
    for (QPointF &p : read[1].points)
        p += QPointF(2, 1);
    const SaveTarget target = editSaveTarget(l.image, true);
    QCOMPARE(target.format, LabelFormat::Dota);
    QCOMPARE(target.file, l.labelFile);
    QVERIFY(saveEdit(l.image, read, target, {}));
    QList<QByteArray> lines = Layouts::dotaSample().split('\n');
    lines[3] = "102.0 21.0 142.0 26.0 152.0 61.0 107.0 56.0 harbor 0";
    QCOMPARE(Fixtures::readBytes(l.labelFile), lines.join('\n'));
    QCOMPARE(labelFilesOf(l.image), QStringList{l.labelFile});
    QVERIFY(!QFile::exists(yoloLabelPath(l.image)));
}

void TestDotaFile::editsKeepOtherLines_data()
{
    QTest::addColumn<QString>("edit");   // "delete", "move" (the second object) or "add"
    QTest::addColumn<QByteArray>("after");
    const QByteArray head = "imagesource:GoogleEarth\ngsd:0.5\n\n";
    const QByteArray plane = "10 10 50 10 50 30 10 30 plane 0\n";
    const QByteArray ship = "60 10 90 40 60 70 30 40 ship 1\n";
    // Lines no reader here understands: another tool's, or a flag that is neither 0 nor 1.
    const QByteArray strange = "10 10 50 10 50 30 10 30 plane 2\n# checked by A\n";
    QTest::newRow("delete") << "delete" << QByteArray(head + "\n" + ship + strange);
    QTest::newRow("move") << "move" << QByteArray(head + plane + "\n61 10 91 40 61 70 31 40 ship 1\n" + strange);
    QTest::newRow("add") << "add" << QByteArray(head + plane + "\n" + ship + "1 1 5 1 5 5 1 5 car 0\n" + strange);
}

void TestDotaFile::editsKeepOtherLines()
{
    QFETCH(QString, edit);
    QFETCH(QByteArray, after);
    const QString path = m_tmp->path() + "/labelTxt/P0003.txt";
    QVERIFY(Fixtures::writeBytes(path, "imagesource:GoogleEarth\ngsd:0.5\n\n10 10 50 10 50 30 10 30 plane 0\n\n"
                                       "60 10 90 40 60 70 30 40 ship 1\n10 10 50 10 50 30 10 30 plane 2\n# checked by A\n"));
    ReadProblem problem;
    QList<Annotation> read = readDotaFile(path, &problem);
    QCOMPARE(read.size(), 2);
    QCOMPARE(problem.at, 7);
    QVERIFY(dotaRewriteKeepsAll(path));
    if (edit == "delete")
        read.removeFirst();
    else if (edit == "move")
        read[1].points = QPolygonF(read[1].points).translated(1, 0);
    else
        read.append(box("car", QRectF(1, 1, 4, 4)));
    QVERIFY(writeDotaFile(path, read, m_tmp->path()));
    QCOMPARE(Fixtures::readBytes(path), after);
}

void TestDotaFile::writes_data()
{
    QTest::addColumn<QList<Annotation>>("annotations");
    QTest::addColumn<QByteArray>("written");   // empty: refused
    Annotation hard = box("ship", QRectF(10, 20, 30, 5));
    hard.difficult = true;
    QTest::newRow("upright box from its top left, difficult") << QList<Annotation>{hard}
                                                               << QByteArray("10 20 40 20 40 25 10 25 ship 1\n");
    QTest::newRow("turned box, corners in order")
        << QList<Annotation>{rotated("plane", {{30, 40}, {60, 70}, {90, 40}, {60, 10}})}
        << QByteArray("30 40 60 70 90 40 60 10 plane 0\n");
    QTest::newRow("fractions") << QList<Annotation>{box("ship", QRectF(0.25, 1, 10, 2.5))}
                               << QByteArray("0.25 1 10.25 1 10.25 3.5 0.25 3.5 ship 0\n");
    QTest::newRow("quadrilateral") << QList<Annotation>{polygon("harbor", {{1, 1}, {9, 2}, {8, 8}, {2, 7}})}
                                   << QByteArray("1 1 9 2 8 8 2 7 harbor 0\n");
    QTest::newRow("five points: refused") << QList<Annotation>{polygon("harbor", {{1, 1}, {9, 2}, {8, 8}, {2, 7}, {0, 4}})}
                                          << QByteArray();
    QTest::newRow("a space in the category: refused") << QList<Annotation>{box("small vehicle", QRectF(1, 1, 5, 5))}
                                                      << QByteArray();
    QTest::newRow("no category: refused") << QList<Annotation>{box("", QRectF(1, 1, 5, 5))} << QByteArray();
    QTest::newRow("keypoints: refused")
        << QList<Annotation>{poseBox("person", QRectF(1, 1, 50, 50), {{10, 10}})} << QByteArray();
}

void TestDotaFile::writes()
{
    QFETCH(QList<Annotation>, annotations);
    QFETCH(QByteArray, written);
    const QString path = m_tmp->path() + "/labelTxt/a.txt";
    const QByteArray before = "12 7 40 7 40 30 12 30 plane 0\n";
    QVERIFY(Fixtures::writeBytes(path, before));
    QCOMPARE(writeDotaFile(path, annotations, m_tmp->path()), !written.isEmpty());
    QCOMPARE(Fixtures::readBytes(path), written.isEmpty() ? before : written);
    if (written.isEmpty())
        return;
    const QList<Annotation> read = readDotaFile(path);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read[0].difficult, annotations[0].difficult);
    QCOMPARE(read[0].label, annotations[0].label);
}

void TestDotaFile::roundTrips_data()
{
    QTest::addColumn<QStringList>("formats");
    QTest::newRow("DOTA to YOLO and back") << QStringList{"yolo", "dota"};
    QTest::newRow("DOTA to VOC and back") << QStringList{"voc", "dota"};
    QTest::newRow("DOTA to YOLO to VOC and back") << QStringList{"yolo", "voc", "dota"};
    QTest::newRow("DOTA to VOC to YOLO and back") << QStringList{"voc", "yolo", "dota"};
}

// Corners within a pixel, the first corner first, each kind kept; difficult through VOC (YOLO
// has no place for it).
void TestDotaFile::roundTrips()
{
    QFETCH(QStringList, formats);
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "dota");
    QVERIFY(!l.image.isEmpty());
    const QList<Annotation> original = loadAnnotations(l.image);
    bool throughYolo = false;
    for (const QString &name : formats) {
        const LabelFormat format =
            name == "yolo" ? LabelFormat::Yolo : (name == "voc" ? LabelFormat::Voc : LabelFormat::Dota);
        throughYolo = throughYolo || format == LabelFormat::Yolo;
        const LabelConversion done = convertLabelFile(l.image, format, {});
        QCOMPARE(done.outcome, LabelConversion::Converted);
        QCOMPARE(done.count, 3);
        QCOMPARE(labelFormatOf(l.image), format);
        QCOMPARE(labelFilesOf(l.image).size(), 1);
        const QList<Annotation> now = loadAnnotations(l.image);
        QCOMPARE(now.size(), original.size());
        for (qsizetype i = 0; i < now.size(); ++i) {
            QCOMPARE(now[i].label, original[i].label);
            QCOMPARE(now[i].kind, original[i].kind);
            QVERIFY2(nearPoints(now[i].points, original[i].points, 1.0), qPrintable(name + " " + now[i].label));
            if (!throughYolo)
                QCOMPARE(now[i].difficult, original[i].difficult);
        }
    }
    QCOMPARE(findDotaFile(l.image), l.labelFile);
    // No float noise from VOC's radians in the file.
    QVERIFY2(Fixtures::readBytes(l.labelFile).startsWith("60 10 90 40 60 70 30 40 plane 0\n"),
             Fixtures::readBytes(l.labelFile).constData());
}

void TestDotaFile::newFilesOfADotaFolder_data()
{
    QTest::addColumn<QString>("image");       // relative to the temporary folder
    QTest::addColumn<QString>("labelTxt");    // what ../labelTxt holds: "-" no such folder
    QTest::addColumn<QString>("expected");    // relative; the file a new label goes to
    QTest::newRow("images/ with labelTxt/ files beside") << "ds/images/new.png" << "old.txt" << "ds/labelTxt/new.txt";
    QTest::newRow("images/ with an emptied labelTxt/") << "ds/images/new.png" << "" << "ds/labels/new.txt";
    QTest::newRow("images/ without labelTxt/") << "ds/images/new.png" << "-" << "ds/labels/new.txt";
    QTest::newRow("another folder name") << "ds/photos/new.png" << "old.txt" << "ds/photos/labels/new.txt";
}

// The folder's format for a new label file is DOTA when its labels are; the write stays inside.
void TestDotaFile::newFilesOfADotaFolder()
{
    QFETCH(QString, image);
    QFETCH(QString, labelTxt);
    QFETCH(QString, expected);
    const QString root = m_tmp->path();
    QVERIFY(Fixtures::makeImage(root + "/" + image, 200, 100));
    const QString folder = QFileInfo(root + "/" + image).absolutePath() + "/../labelTxt";
    if (labelTxt != "-")
        QVERIFY(QDir().mkpath(folder));
    if (labelTxt != "-" && !labelTxt.isEmpty())
        QVERIFY(Fixtures::writeBytes(folder + "/" + labelTxt, "10 10 50 10 50 30 10 30 plane 0\n"));
    const SaveTarget target = editSaveTarget(root + "/" + image, true);
    QCOMPARE(target.existing, false);
    QCOMPARE(target.file, root + "/" + expected);
    QVERIFY(saveEdit(root + "/" + image, {box("plane", QRectF(10, 10, 20, 10))}, target, {}));
    QCOMPARE(labelFilesOf(root + "/" + image), QStringList{root + "/" + expected});
    QCOMPARE(labelFormatOf(root + "/" + image), target.format);
    QCOMPARE(loadAnnotations(root + "/" + image).size(), 1);
}

BRINDLE_TEST_MAIN(TestDotaFile)
#include "tst_dotafile.moc"
