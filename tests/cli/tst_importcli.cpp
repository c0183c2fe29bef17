#include "storage/storagefixtures.h"
#include "support/clirunner.h"
#include "support/labelmesamples.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A COCO instances file as the format's documentation gives it: categories out of id order; a.png
// with a box, a polygon and a crowd; b.png with a run-length mask and a box written with its
// corners as segmentation; e.png named with the folder it was in; gone.png not in the folder.
const QByteArray cocoFile = R"({
  "info": {"description": "test set", "version": "1.0"},
  "licenses": [],
  "images": [
    {"id": 7, "file_name": "a.png", "width": 200, "height": 100},
    {"id": 9, "file_name": "b.png", "width": 200, "height": 100},
    {"id": 11, "file_name": "sub/e.png", "width": 200, "height": 100},
    {"id": 12, "file_name": "gone.png", "width": 200, "height": 100}
  ],
  "categories": [
    {"id": 3, "name": "person", "supercategory": "person"},
    {"id": 1, "name": "car", "supercategory": "vehicle"}
  ],
  "annotations": [
    {"id": 1, "image_id": 7, "category_id": 1, "bbox": [10.25, 20.5, 40.0, 30.75], "area": 1230.0, "iscrowd": 0,
     "segmentation": []},
    {"id": 2, "image_id": 7, "category_id": 3, "bbox": [100, 10, 50, 60], "area": 1500, "iscrowd": 0,
     "segmentation": [[100, 10, 150, 10, 125, 70]]},
    {"id": 3, "image_id": 7, "category_id": 3, "bbox": [5, 60, 30, 30], "area": 900, "iscrowd": 1,
     "segmentation": [[5, 60, 35, 60, 35, 90, 5, 90]]},
    {"id": 4, "image_id": 9, "category_id": 3, "bbox": [0, 0, 10, 10], "area": 100, "iscrowd": 1,
     "segmentation": {"size": [100, 200], "counts": [0, 10, 90, 10]}},
    {"id": 5, "image_id": 9, "category_id": 1, "bbox": [20, 30, 40, 20], "area": 800, "iscrowd": 0,
     "segmentation": [[20, 30, 60, 30, 60, 50, 20, 50]]},
    {"id": 6, "image_id": 11, "category_id": 1, "bbox": [1, 2, 3, 4], "area": 12, "iscrowd": 0}
  ]
})";

QJsonObject lineOf(const CliResult &result)
{
    return result.lines.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(result.lines.last().toUtf8()).object();
}

QJsonArray shownAnnotations(const QString &image)
{
    const CliResult shown = runCli({"show", image});
    return lineOf(shown).value("annotations").toArray();
}

} // namespace

class TestImportCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void importsIntoFolder_data();
    void importsIntoFolder();
    void existingLabels_data();
    void existingLabels();
    void refusesWhatIsNoCocoFile_data();
    void refusesWhatIsNoCocoFile();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QString m_coco;
};

void TestImportCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + "/ds";
    m_coco = m_tmp->path() + "/instances.json";
    for (const char *name : {"a.png", "b.png", "c.png", "e.png"})
        QVERIFY(Fixtures::makeImage(m_dir + "/" + name, 200, 100));
    QVERIFY(Fixtures::writeBytes(m_coco, cocoFile));
}

void TestImportCli::importsIntoFolder_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("fileOfA");   // relative to the folder
    QTest::newRow("VOC where the folder has no labels") << QStringList{} << "annotations/a.xml";
    QTest::newRow("--format yolo") << QStringList{"--format", "yolo"} << "labels/a.txt";
    QTest::newRow("--format labelme") << QStringList{"--format", "labelme"} << "a.json";
}

void TestImportCli::importsIntoFolder()
{
    QFETCH(QStringList, options);
    QFETCH(QString, fileOfA);
    const CliResult result = runCli(QStringList{"import", "--from", "coco"} + options + QStringList{m_coco, m_dir}, inEnglish());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines.size(), 1);
    QCOMPARE(lineOf(result), (QJsonObject{{"images", 3}, {"annotations", 5}, {"duplicates", 0}, {"labelled", 0},
                                          {"missing", 1}, {"unlisted", 1}, {"rle_refused", 1}, {"unusable", 0},
                                          {"failed", 0}}));
    QVERIFY(result.err.contains("not in the folder: gone.png"));
    QVERIFY(result.err.contains(("not in the file: " + m_dir + "/c.png").toUtf8()));
    QVERIFY(QFileInfo::exists(m_dir + "/" + fileOfA));

    // Boxes within half a pixel (VOC holds whole pixels, YOLO six decimals of the size), polygons,
    // crowds as difficult.
    const QJsonArray a = shownAnnotations(m_dir + "/a.png");
    QCOMPARE(a.size(), 3);
    const QJsonObject car = a.at(0).toObject();
    QCOMPARE(car["label"].toString(), QString("car"));
    QCOMPARE(car["kind"].toString(), QString("rect"));
    // Edges: left, top, right, bottom.
    const QList<double> expected{10.25, 20.5, 50.25, 51.25};
    const QJsonArray rect = car["rect"].toArray();
    const QList<double> edges{rect.at(0).toDouble(), rect.at(1).toDouble(), rect.at(0).toDouble() + rect.at(2).toDouble(),
                              rect.at(1).toDouble() + rect.at(3).toDouble()};
    for (int i = 0; i < 4; ++i)
        QVERIFY2(qAbs(edges[i] - expected[i]) <= 0.5, qPrintable(QString::number(i)));
    QCOMPARE(a.at(1).toObject()["kind"].toString(), QString("polygon"));
    QCOMPARE(a.at(1).toObject()["points"].toArray().size(), 3);
    QVERIFY(a.at(2).toObject()["difficult"].toBool() || options.contains("yolo"));   // YOLO has no such flag
    // A box written as its corners stays a box; the run-length mask is not taken.
    const QJsonArray b = shownAnnotations(m_dir + "/b.png");
    QCOMPARE(b.size(), 1);
    QCOMPARE(b.at(0).toObject()["kind"].toString(), QString("rect"));
    QCOMPARE(shownAnnotations(m_dir + "/e.png").size(), 1);
    QCOMPARE(lineOf(runCli({"show", m_dir + "/c.png"}))["count"].toInt(), -1);
    if (options.contains("yolo"))
        QCOMPARE(Fixtures::readBytes(m_dir + "/labels/classes.txt"), QByteArray("person\ncar\n"));
}

void TestImportCli::existingLabels_data()
{
    QTest::addColumn<bool>("merge");
    QTest::addColumn<int>("shapesOfA");
    QTest::addColumn<int>("duplicates");
    QTest::newRow("left as it is") << false << 1 << 0;
    QTest::newRow("--merge drops repeats") << true << 3 << 1;
}

void TestImportCli::existingLabels()
{
    QFETCH(bool, merge);
    QFETCH(int, shapesOfA);
    QFETCH(int, duplicates);
    // a.png already has the car, in labelme's file with keys of its own.
    const QByteArray labelme = R"({"version": "5.2.1", "flags": {"seen": true}, "shapes": [{"label": "car",
        "points": [[10, 20], [50, 51]], "group_id": 4, "shape_type": "rectangle", "flags": {}}],
        "imagePath": "a.png", "imageData": null, "imageHeight": 100, "imageWidth": 200})";
    QVERIFY(Fixtures::writeBytes(m_dir + "/a.json", labelme));

    QStringList args{"import", "--from", "coco", m_coco, m_dir};
    if (merge)
        args.insert(3, "--merge");
    const CliResult result = runCli(args, inEnglish());
    QCOMPARE(result.exitCode, 0);
    const QJsonObject line = lineOf(result);
    QCOMPARE(line["duplicates"].toInt(), duplicates);
    QCOMPARE(line["labelled"].toInt(), merge ? 0 : 1);
    QCOMPARE(shownAnnotations(m_dir + "/a.png").size(), shapesOfA);
    if (!merge) {
        QCOMPARE(Fixtures::readBytes(m_dir + "/a.json"), labelme);
        QVERIFY(result.err.contains("already labelled"));
    } else {
        const QJsonObject file = QJsonDocument::fromJson(Fixtures::readBytes(m_dir + "/a.json")).object();
        QCOMPARE(file["flags"].toObject()["seen"].toBool(), true);
        QCOMPARE(file["shapes"].toArray().at(0).toObject()["group_id"].toInt(), 4);
    }
    // The folder's format is labelme: the other images get labelme files too.
    QVERIFY(QFileInfo::exists(m_dir + "/b.json"));
    QVERIFY(!QFileInfo::exists(m_dir + "/annotations"));
}

void TestImportCli::refusesWhatIsNoCocoFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("told");   // on standard error, in English
    QTest::newRow("a labelme file") << LabelmeSamples::labelme() << QStringList{} << 1
                                    << QByteArray(": no COCO instances file: \"images\", \"annotations\"");
    QTest::newRow("cut short") << cocoFile.left(200) << QStringList{} << 1 << QByteArray(": not JSON: ");
    QTest::newRow("unknown source") << cocoFile << QStringList{"--from", "voc"} << 2
                                    << QByteArray("usage: brindlemark-cli import");
    QTest::newRow("unknown format") << cocoFile << QStringList{"--format", "csv"} << 2
                                    << QByteArray("usage: brindlemark-cli import");
}

void TestImportCli::refusesWhatIsNoCocoFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, told);
    QVERIFY(Fixtures::writeBytes(m_coco, file));
    QStringList args{"import"};
    args += extra.contains("--from") ? extra : QStringList{"--from", "coco"} + extra;
    const CliResult result = runCli(args + QStringList{m_coco, m_dir}, inEnglish());
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY(result.lines.isEmpty());
    QVERIFY2(result.err.contains(told), result.err.constData());
    QVERIFY(!QFileInfo::exists(m_dir + "/annotations"));
    QVERIFY(!QFileInfo::exists(m_dir + "/a.json"));
}

BRINDLE_TEST_MAIN(TestImportCli)
#include "tst_importcli.moc"
