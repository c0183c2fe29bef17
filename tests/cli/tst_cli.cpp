#include "storage/layoutfixtures.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/clirunner.h"
#include "testmain.h"

#include <QDateTime>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// Runs the built brindlemark-cli against a small dataset; "%D" in the expected lines stands
// for the dataset's image directory.
class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void run_data();
    void run();
    void convertRewritesFiles();
    void convertKeepsNumberCategories_data();
    void convertKeepsNumberCategories();
    void convertKeepsLabelsOfUnreadableImage_data();
    void convertKeepsLabelsOfUnreadableImage();
    void convertLeavesOutBoxesBesideTheImage_data();
    void convertLeavesOutBoxesBesideTheImage();
    void otherLayouts_data();
    void otherLayouts();
    void exportCoco_data();
    void exportCoco();
    void exportLeavesOutWhatCannotBeRead();
    void exportUltralytics_data();
    void exportUltralytics();
    void namesThatAreNotUtf8();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    CliOptions m_inDir;   // the tool runs in the image directory, speaking English as scripts have seen it
};

void TestCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + "/ds/images";
    m_inDir = inEnglish();
    m_inDir.workingDirectory = m_dir;
    QVERIFY(Fixtures::makeImage(m_dir + "/img2.png", 200, 100));
    QVERIFY(Fixtures::makeImage(m_dir + "/img10.png", 200, 100));
    QVERIFY(Fixtures::makeImage(m_dir + "/B1.png", 20, 10));
    QVERIFY(Fixtures::writeBytes(m_dir + "/notes.txt", "x"));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/labels/classes.txt", "cat\n"));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/labels/img2.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::writeBytes(m_dir + "/.brindle_pending.json",
                                 R"({"pending":{"%D/img10.png":[{"b":[1,2,3,4],"c":0.5,"d":0,"l":"dog","t":"r"}]},"version":1})"));
    QByteArray pending = Fixtures::readBytes(m_dir + "/.brindle_pending.json");
    pending.replace("%D", m_dir.toUtf8());
    QVERIFY(Fixtures::writeBytes(m_dir + "/.brindle_pending.json", pending));
}

void TestCli::run_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<bool>("errors");

    const QString catRow = R"({"annotations":[{"confidence":-1,"difficult":false,"kind":"rect","label":"cat",)"
                           R"("pending":0,"points":[],"rect":[50,25,100,50]}],"complete":true,"count":1,"height":100,)"
                           R"("image":"%D/img2.png","width":200})";
    QTest::newRow("list in collation order")
        << QStringList{"list", "."} << 0 << QStringList{"%D/B1.png", "%D/img2.png", "%D/img10.png"} << false;
    QTest::newRow("list of a missing directory") << QStringList{"list", "nope"} << 1 << QStringList{} << true;
    QTest::newRow("list without directory") << QStringList{"list"} << 2 << QStringList{} << true;
    QTest::newRow("show labelled and unlabelled")
        << QStringList{"show", "img2.png", "%D/B1.png"} << 0
        << QStringList{catRow,
                       R"({"annotations":[],"complete":true,"count":-1,"height":10,"image":"%D/B1.png","width":20})"}
        << false;
    QTest::newRow("show with a missing image goes on, exits 1")
        << QStringList{"show", "missing.png", "img2.png"} << 1 << QStringList{catRow} << true;
    QTest::newRow("show a file that is not an image") << QStringList{"show", "notes.txt"} << 1 << QStringList{} << true;
    QTest::newRow("pending")
        << QStringList{"pending", "."} << 0
        << QStringList{R"({"annotations":[{"confidence":0.5,"difficult":false,"kind":"rect","label":"dog",)"
                       R"("pending":1,"points":[],"rect":[1,2,2,2]}],"image":"%D/img10.png"})"}
        << false;
    QTest::newRow("convert without format") << QStringList{"convert", "img2.png"} << 2 << QStringList{} << true;
    QTest::newRow("convert to an unknown format") << QStringList{"convert", "--to", "coco", "img2.png"} << 2
                                                  << QStringList{} << true;
    QTest::newRow("convert without paths") << QStringList{"convert", "--to", "voc"} << 2 << QStringList{} << true;
    QTest::newRow("convert a missing path") << QStringList{"convert", "--to", "voc", "gone.png"} << 1 << QStringList{}
                                            << true;
    QTest::newRow("export without format") << QStringList{"export", "."} << 2 << QStringList{} << true;
    QTest::newRow("export to an unknown format") << QStringList{"export", "--to", "yolo", "."} << 2 << QStringList{}
                                                 << true;
    QTest::newRow("export of two directories") << QStringList{"export", "--to", "coco", ".", ".."} << 2
                                               << QStringList{} << true;
    QTest::newRow("export with an empty output") << QStringList{"export", "--to", "coco", "--output=", "."} << 2
                                                 << QStringList{} << true;
    QTest::newRow("export of a missing directory") << QStringList{"export", "--to", "coco", "nope"} << 1
                                                   << QStringList{} << true;
    QTest::newRow("export to coco with a split") << QStringList{"export", "--to", "coco", "--val", "0.2", "."} << 2
                                                 << QStringList{} << true;
    QTest::newRow("export val fraction 1") << QStringList{"export", "--to", "ultralytics", "--val", "1", "."} << 2
                                           << QStringList{} << true;
    QTest::newRow("export val fraction 0") << QStringList{"export", "--to", "ultralytics", "--val=0", "."} << 2
                                           << QStringList{} << true;
    QTest::newRow("export negative seed") << QStringList{"export", "--to", "ultralytics", "--seed", "-1", "."} << 2
                                          << QStringList{} << true;
    QTest::newRow("export to ultralytics, no images") << QStringList{"export", "--to", "ultralytics", "../labels"}
                                                      << 2 << QStringList{} << true;
    QTest::newRow("export to coco, no images") << QStringList{"export", "--to", "coco", "../labels"} << 2
                                               << QStringList{} << true;
    // A dataset root is read through its image folders, as the window offers them.
    QTest::newRow("list of a dataset root") << QStringList{"list", ".."} << 0
                                            << QStringList{"%D/B1.png", "%D/img2.png", "%D/img10.png"} << false;
    QTest::newRow("list of a folder without images") << QStringList{"list", "../labels"} << 2 << QStringList{}
                                                     << true;
    QTest::newRow("pending of a dataset root")
        << QStringList{"pending", ".."} << 0
        << QStringList{R"({"annotations":[{"confidence":0.5,"difficult":false,"kind":"rect","label":"dog",)"
                       R"("pending":1,"points":[],"rect":[1,2,2,2]}],"image":"%D/img10.png"})"}
        << false;
    QTest::newRow("pending of a folder without images") << QStringList{"pending", "../labels"} << 2
                                                        << QStringList{} << true;
    QTest::newRow("convert a folder without images") << QStringList{"convert", "--to", "voc", "../labels"} << 2
                                                     << QStringList{} << true;
    QTest::newRow("no command") << QStringList{} << 2 << QStringList{} << true;
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << QStringList{} << true;
}

void TestCli::run()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(bool, errors);
    for (QString &arg : args)
        arg.replace("%D", m_dir);
    for (QString &line : out)
        line.replace("%D", m_dir);

    const CliResult result = runCli(args, m_inDir);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.lines, out);
    QCOMPARE(!result.err.isEmpty(), errors);
    // Exit 2 is a usage error, or a folder without any image.
    if (exitCode == 2)
        QVERIFY2(result.err.contains("usage: brindlemark-cli") || result.err.startsWith("brindlemark-cli: no images in "),
                 result.err.constData());
}

void TestCli::convertRewritesFiles()
{
    CliResult result = runCli({"convert", "--to", "voc", "."}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines.size(), 3);
    QVERIFY(result.lines[0].contains(R"("skipped":true)")); // B1 has no labels and gets none
    QCOMPARE(result.lines[1], QString(R"({"count":1,"format":"voc","image":"%1/img2.png"})").arg(m_dir));
    QVERIFY(!QFile::exists(m_tmp->path() + "/ds/labels/img2.txt"));
    QVERIFY(!QFile::exists(m_dir + "/annotations/B1.xml"));
    QVERIFY(Fixtures::readBytes(m_dir + "/annotations/img2.xml").contains("<xmin>50</xmin>"));

    result = runCli({"convert", "--to", "yolo", "--classes", "dog,cat", "img2.png"}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!QFile::exists(m_dir + "/annotations/img2.xml"));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/img2.txt"),
             QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")); // the existing class list wins
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/classes.txt"), QByteArray("cat\n"));

    QVERIFY(QFile::remove(m_tmp->path() + "/ds/labels/classes.txt"));
    result = runCli({"convert", "--to=yolo", "--classes=dog,cat", "img2.png"}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    // Class 0 had no name and reads as "0"; written as index 0 it would become dog.
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/img2.txt"),
             QByteArray("2 0.500000 0.500000 0.500000 0.500000\n"));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/classes.txt"), QByteArray("dog\ncat\n0\n"));
}

void TestCli::convertKeepsNumberCategories_data()
{
    QTest::addColumn<QByteArray>("classes");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("classesAfter");
    const QByteArray box = " 0.500000 0.500000 0.500000 0.500000\n";
    // Written as index 2 it would read back as bird.
    QTest::newRow("category 2 while class 2 is bird")
        << QByteArray("cat\ndog\nbird\n") << "2" << QByteArray("3" + box) << QByteArray("cat\ndog\nbird\n2\n");
    // A name of digits is a name: left a bare number, the class added next as 7 would take it.
    QTest::newRow("category 7 not yet a class becomes a name")
        << QByteArray("cat\n") << "7" << QByteArray("1" + box) << QByteArray("cat\n7\n");
}

// A category whose name is a number keeps its meaning through a conversion to YOLO.
void TestCli::convertKeepsNumberCategories()
{
    QFETCH(QByteArray, classes);
    QFETCH(QString, category);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, classesAfter);
    const QString labels = m_tmp->path() + "/ds/labels";
    QVERIFY(QFile::remove(labels + "/img2.txt"));
    QVERIFY(Fixtures::writeBytes(labels + "/classes.txt", classes));
    QVERIFY(Fixtures::writeBytes(m_dir + "/annotations/img2.xml",
                                 "<annotation><object><name>" + category.toUtf8()
                                     + "</name><bndbox><xmin>50</xmin><ymin>25</ymin><xmax>150</xmax><ymax>75</ymax>"
                                       "</bndbox></object></annotation>\n"));
    const CliResult result = runCli({"convert", "--to", "yolo", "img2.png"}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(Fixtures::readBytes(labels + "/img2.txt"), line);
    QCOMPARE(Fixtures::readBytes(labels + "/classes.txt"), classesAfter);
    QVERIFY(!QFile::exists(m_dir + "/annotations/img2.xml"));
    const CliResult shown = runCli({"show", "img2.png"}, m_inDir);
    QCOMPARE(shown.exitCode, 0);
    const QJsonObject read = QJsonDocument::fromJson(shown.out).object();
    QCOMPARE(read.value("annotations").toArray().at(0).toObject().value("label").toString(), category);
    QCOMPARE(read.value("complete"), QJsonValue(true));
}

void TestCli::convertKeepsLabelsOfUnreadableImage_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("labelFile"); // relative to the dataset root
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("target"); // the file the conversion would write
    QTest::newRow("YOLO labels to VOC") << "voc" << "labels/broken.txt" << QByteArray("0 0.5 0.5 0.5 0.5\n")
                                        << "images/annotations/broken.xml";
    QTest::newRow("VOC labels to YOLO")
        << "yolo" << "images/annotations/broken.xml"
        << QByteArray("<annotation><object><name>cat</name><bndbox><xmin>1</xmin><ymin>1</ymin>"
                      "<xmax>9</xmax><ymax>9</ymax></bndbox></object></annotation>\n")
        << "labels/broken.txt";
}

// Without the image's size the labels cannot be read or written, so they must stay as they are.
void TestCli::convertKeepsLabelsOfUnreadableImage()
{
    QFETCH(QString, to);
    QFETCH(QString, labelFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, target);
    const QString labelPath = m_tmp->path() + "/ds/" + labelFile;
    QVERIFY(Fixtures::writeBytes(m_dir + "/broken.png", "not an image"));
    QVERIFY(Fixtures::writeBytes(labelPath, content));

    const CliResult result = runCli({"convert", "--to", to, "broken.png"}, m_inDir);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!result.err.isEmpty());
    QCOMPARE(Fixtures::readBytes(labelPath), content);
    QVERIFY(!QFile::exists(m_tmp->path() + "/ds/" + target));
}

void TestCli::convertLeavesOutBoxesBesideTheImage_data()
{
    // Another tool's file for the 200x100 img2.png: a box inside, one past the right and bottom
    // edges, one wholly right of the picture.
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("source");   // relative to the dataset root
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("written");   // all of it, or a part
    QTest::newRow("VOC to YOLO")
        << "yolo" << "images/annotations/img2.xml"
        << QByteArray("<annotation><object><name>cat</name><bndbox><xmin>50</xmin><ymin>25</ymin><xmax>150</xmax>"
                      "<ymax>75</ymax></bndbox></object><object><name>cat</name><bndbox><xmin>150</xmin><ymin>50</ymin>"
                      "<xmax>250</xmax><ymax>150</ymax></bndbox></object><object><name>cat</name><bndbox>"
                      "<xmin>300</xmin><ymin>10</ymin><xmax>400</xmax><ymax>50</ymax></bndbox></object></annotation>\n")
        << "labels/img2.txt"
        << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n0 0.875000 0.750000 0.250000 0.500000\n");
    QTest::newRow("YOLO to VOC") << "voc" << "labels/img2.txt"
                                 << QByteArray("0 0.5 0.5 0.5 0.5\n0 0.875 0.75 0.75 1.0\n0 1.5 0.5 0.2 0.2\n")
                                 << "images/annotations/img2.xml"
                                 << QByteArray("<xmin>100</xmin>\n            <ymin>25</ymin>\n            "
                                               "<xmax>200</xmax>\n            <ymax>100</ymax>");
}

// No reader can use a box beside the picture: it is left out of what is written, and said so.
void TestCli::convertLeavesOutBoxesBesideTheImage()
{
    QFETCH(QString, to);
    QFETCH(QString, source);
    QFETCH(QByteArray, content);
    QFETCH(QString, target);
    QFETCH(QByteArray, written);
    QVERIFY(QFile::remove(m_tmp->path() + "/ds/labels/img2.txt"));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/" + source, content));

    const CliResult result = runCli({"convert", "--to", to, "img2.png"}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines.size(), 1);
    const QJsonObject line = QJsonDocument::fromJson(result.lines.first().toUtf8()).object();
    QCOMPARE(line.value("count").toInt(), 2);
    QCOMPARE(line.value("outside").toInt(), 1);
    QVERIFY2(result.err.contains(QFile::encodeName(m_dir + "/img2.png") + ": 1 shape(s) wholly outside the image left out"),
             result.err.constData());
    const QByteArray file = Fixtures::readBytes(m_tmp->path() + "/ds/" + target);
    QVERIFY2(to == u"yolo" ? file == written : file.contains(written), file.constData());
    QVERIFY(!QFile::exists(m_tmp->path() + "/ds/" + source));
}

void TestCli::otherLayouts_data()
{
    QTest::addColumn<QString>("layout");
    for (const char *name : {"voc devkit", "xml beside", "yolo 1.1", "ultralytics map with a gap", "label studio",
                             "captions", "foreign xml beside", "labelme beside", "x-anylabeling beside",
                             "foreign json beside"})
        QTest::newRow(name) << QString(name);
}

// show reads and convert rewrites the files found where other tools keep them, and leaves alone
// the files that are not labels.
void TestCli::otherLayouts()
{
    QFETCH(QString, layout);
    const Layouts::Layout l = Layouts::build(m_tmp->path() + "/other", layout);
    QVERIFY(!l.image.isEmpty());
    QMap<QString, QByteArray> kept;
    for (const QString &file : l.untouchable)
        kept.insert(file, Fixtures::readBytes(file));

    CliResult result = runCli({"show", l.image}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines.size(), 1);
    const QJsonObject shown = QJsonDocument::fromJson(result.lines[0].toUtf8()).object();
    QCOMPARE(shown["count"].toInt(), l.labelFile.isEmpty() ? -1 : int(l.labels.size()));
    QStringList labels;
    for (const QJsonValue &a : shown["annotations"].toArray())
        labels.append(a.toObject()["label"].toString());
    QCOMPARE(labels, l.labels);

    const bool voc = l.labelFile.endsWith(".xml");
    const QString to = voc ? "yolo" : "voc";
    result = runCli({"convert", "--to", to, QFileInfo(l.image).absolutePath()}, m_inDir);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.lines.size(), 1);
    const QJsonObject converted = QJsonDocument::fromJson(result.lines[0].toUtf8()).object();
    QCOMPARE(converted["count"].toInt(), l.labelFile.isEmpty() ? -1 : int(l.labels.size()));
    QCOMPARE(converted["skipped"].toBool(), l.labelFile.isEmpty());
    if (!l.labelFile.isEmpty()) {
        QVERIFY(!QFile::exists(l.labelFile));
        // A digits-only label read back from VOC is a name: their data.yaml lacks it, and no
        // second class list is made beside theirs.
        const bool lacked = layout == "ultralytics map with a gap";
        result = runCli({"convert", "--to", voc ? "voc" : "yolo", l.image}, m_inDir);
        QCOMPARE(result.exitCode, lacked ? 1 : 0);
        QCOMPARE(result.err.contains("lacks 1; add them there first"), lacked);
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QCOMPARE(Fixtures::readBytes(it.key()), it.value());
}

void TestCli::exportCoco_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<bool>("includeUnlabelled");
    QTest::newRow("standard output") << false << false;
    QTest::newRow("--output") << true << false;
    QTest::newRow("--include-unlabelled") << true << true;
}

void TestCli::exportCoco()
{
    QFETCH(bool, toFile);
    QFETCH(bool, includeUnlabelled);
    // a.png: YOLO, a box and a polygon; b.png: VOC, a box of a category only files name and a
    // polygon; c.png: no label file, only a pending result: unlabelled, in the document only when
    // asked for; d.png and e.png: background images (an empty YOLO file, a VOC file without
    // objects), images without annotations.
    const QString dir = m_tmp->path() + "/coco";
    QVERIFY(Fixtures::makeImage(dir + "/a.png", 200, 100));
    QVERIFY(Fixtures::makeImage(dir + "/b.png", 100, 100));
    QVERIFY(Fixtures::makeImage(dir + "/c.png", 50, 40));
    QVERIFY(Fixtures::makeImage(dir + "/d.png", 60, 40));
    QVERIFY(Fixtures::makeImage(dir + "/e.png", 70, 40));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/d.txt", ""));
    QVERIFY(Fixtures::writeBytes(dir + "/annotations/e.xml",
                                 "<annotation verified=\"yes\"><size><width>70</width><height>40</height></size>"
                                 "</annotation>"));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/classes.txt", "cat\ndog\nbird\n"));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/a.txt", "0 0.5 0.5 0.5 0.5\n1 0.1 0.1 0.9 0.1 0.5 0.9\n"));
    QVERIFY(Fixtures::writeBytes(dir + "/annotations/b.xml",
                                 "<annotation><object><name>owl</name><bndbox><xmin>10</xmin><ymin>10</ymin>"
                                 "<xmax>30</xmax><ymax>40</ymax></bndbox></object><object><name>cat</name>"
                                 "<polygon><points>10,10 50,10 50,50</points></polygon></object></annotation>"));
    QVERIFY(Fixtures::writeBytes(dir + "/.brindle_pending.json",
                                 "{\"pending\":{\"" + dir.toUtf8() + "/c.png\":[{\"b\":[1,2,3,4],\"l\":\"dog\",\"t\":\"r\"}]},"
                                 "\"version\":1}"));

    QStringList args{"export", "--to", "coco", dir};
    const QString output = m_tmp->path() + "/out/instances.json";
    QVERIFY(QDir().mkpath(m_tmp->path() + "/out"));
    if (toFile)
        args = QStringList{"export", "--to=coco", "--output", output, dir};
    if (includeUnlabelled)
        args.insert(1, "--include-unlabelled");
    const CliResult result = runCli(args, m_inDir);
    QCOMPARE(result.exitCode, 0);
    // The image left out is named, and only it.
    QCOMPARE(result.err.contains(dir.toUtf8() + "/c.png has no label file"), !includeUnlabelled);
    QCOMPARE(result.err.count('\n'), includeUnlabelled ? 0 : 1);
    QByteArray json;
    if (toFile) {
        QCOMPARE(result.lines,
                 QStringList{QString(R"({"annotations":4,"categories":4,"images":%2,"output":"%1","unlabelled":%3})")
                                 .arg(output)
                                 .arg(includeUnlabelled ? 5 : 4)
                                 .arg(includeUnlabelled ? 0 : 1)});
        json = Fixtures::readBytes(output);
    } else {
        QCOMPARE(result.lines.size(), 1);
        json = result.lines[0].toUtf8();
    }
    const QJsonObject coco = QJsonDocument::fromJson(json).object();

    const auto image = [](int id, const char *name, int w, int h) {
        return QJsonObject{{"id", id}, {"file_name", name}, {"width", w}, {"height", h}};
    };
    const QJsonArray images = includeUnlabelled
        ? QJsonArray({image(1, "a.png", 200, 100), image(2, "b.png", 100, 100), image(3, "c.png", 50, 40),
                      image(4, "d.png", 60, 40), image(5, "e.png", 70, 40)})
        : QJsonArray({image(1, "a.png", 200, 100), image(2, "b.png", 100, 100), image(3, "d.png", 60, 40),
                      image(4, "e.png", 70, 40)});
    QCOMPARE(coco["images"].toArray(), images);
    const auto category = [](int id, const char *name) {
        return QJsonObject{{"id", id}, {"name", name}, {"supercategory", name}};
    };
    QCOMPARE(coco["categories"].toArray(),
             QJsonArray({category(1, "cat"), category(2, "dog"), category(3, "bird"), category(4, "owl")}));
    const auto shape = [](int id, int image, int category, const QJsonArray &bbox, double area,
                          const QJsonArray &segmentation) {
        return QJsonObject{{"id", id}, {"image_id", image}, {"category_id", category}, {"bbox", bbox},
                           {"area", area}, {"iscrowd", 0}, {"segmentation", segmentation}};
    };
    QCOMPARE(coco["annotations"].toArray(),
             QJsonArray({shape(1, 1, 1, {50, 25, 100, 50}, 5000,
                               {QJsonValue(QJsonArray{50, 25, 150, 25, 150, 75, 50, 75})}),
                         shape(2, 1, 2, {20, 10, 160, 80}, 6400, {QJsonValue(QJsonArray{20, 10, 180, 10, 100, 90})}),
                         shape(3, 2, 4, {10, 10, 20, 30}, 600, {QJsonValue(QJsonArray{10, 10, 30, 10, 30, 40, 10, 40})}),
                         shape(4, 2, 1, {10, 10, 40, 40}, 800, {QJsonValue(QJsonArray{10, 10, 50, 10, 50, 50})})}));
    // What the COCO API reads besides: info() and the licenses of the format.
    QCOMPARE(coco["info"].toObject()["description"].toString(), QString("coco"));
    QCOMPARE(coco["info"].toObject()["version"].toString(), QString("1.0"));
    QVERIFY(coco["licenses"].isArray());
    QCOMPARE(coco.keys(), (QStringList{"annotations", "categories", "images", "info", "licenses"}));
}

void TestCli::exportLeavesOutWhatCannotBeRead()
{
    // An image without a size and one whose labels are damaged: left out, named on stderr, exit 1.
    const QString dir = m_tmp->path() + "/coco";
    QVERIFY(Fixtures::makeImage(dir + "/a.png", 200, 100));
    QVERIFY(Fixtures::writeBytes(dir + "/b.png", "not an image"));
    QVERIFY(Fixtures::makeImage(dir + "/c.png", 200, 100));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/a.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/b.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/c.txt", "0 0.5 0.5 0.5 0.5\nnot a label line\n"));
    const CliResult result = runCli({"export", "--to", "coco", dir}, m_inDir);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("b.png") && result.err.contains("c.txt"), result.err.constData());
    const QJsonObject coco = QJsonDocument::fromJson(result.lines.value(0).toUtf8()).object();
    QCOMPARE(coco["images"].toArray().size(), 1);
    QCOMPARE(coco["images"].toArray()[0].toObject()["file_name"].toString(), QString("a.png"));
    QCOMPARE(coco["annotations"].toArray().size(), 1);
    QCOMPARE(coco["categories"].toArray(),
             QJsonArray{QJsonObject({{"id", 1}, {"name", "0"}, {"supercategory", "0"}})});
}

namespace {

// Every file under root with its content.
QMap<QString, QByteArray> filesUnder(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, Fixtures::readBytes(path));
    }
    return files;
}

// An image list line as Ultralytics reads it: "./" stands for the list's folder (every "./" of
// the line is replaced), anything else is taken as it is.
QString resolvedListLine(const QString &line, const QString &listDir)
{
    QString path = line;
    if (path.startsWith("./"))
        path.replace("./", listDir + "/");
    return path;
}

// Where Ultralytics looks for an image's labels.
QString ultralyticsLabels(const QString &image)
{
    QString path = image;
    const qsizetype at = path.lastIndexOf("/images/");
    if (at >= 0)
        path.replace(at, 8, "/labels/");
    return path.left(path.lastIndexOf('.')) + ".txt";
}

} // namespace

void TestCli::exportUltralytics_data()
{
    QTest::addColumn<QString>("setup");       // what exportUltralytics builds; DIR is the image folder
    QTest::addColumn<QStringList>("args");    // before DIR
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("yaml");        // relative to the work folder; empty: nothing written
    QTest::addColumn<QStringList>("labelled"); // images of DIR that go to train or val
    QTest::addColumn<QStringList>("background"); // images of DIR that go to train
    QTest::addColumn<int>("val");
    QTest::addColumn<QByteArray>("err");      // part of stderr; empty: no message

    const QStringList split{"a.png", "b.png", "c.png"};
    // d.png has an empty label file; e.png none: it was never looked at, and is left out.
    const QStringList splitBackground{"d.png"};
    // Ultralytics keeps polygons for segmentation only when every object of the dataset has one.
    const QByteArray note("`yolo segment train` would drop every polygon");
    QTest::newRow("images/train and labels/train") << "split" << QStringList{} << 0 << "ds/data.yaml" << split
                                                   << splitBackground << 1 << note;
    QTest::newRow("--val, --seed and --output elsewhere")
        << "split" << QStringList{"--val", "0.5", "--seed=7", "--output", "out/train.yaml"} << 0 << "out/train.yaml"
        << split << splitBackground << 2 << note;
    QTest::newRow("flat folder, labels beside the images")
        << "flat beside" << QStringList{} << 0 << "flat/data.yaml" << QStringList{"a.png", "b.png"}
        << QStringList{"d.png"} << 1 << QByteArray();
    QTest::newRow("--include-unlabelled adds them as background")
        << "split" << QStringList{"--include-unlabelled"} << 0 << "ds/data.yaml" << split
        << QStringList{"d.png", "e.png"} << 1 << note;
    // DIR is the dataset root: images/train and images/val are its split.
    QTest::newRow("dataset root keeps its own split") << "root split" << QStringList{} << 0 << "ds/data.yaml"
                                                      << (split + QStringList{"v.png"}) << splitBackground << 1
                                                      << note;
    QTest::newRow("dataset root, --val makes a new split")
        << "root split" << QStringList{"--val", "0.5"} << 0 << "ds/data.yaml" << (split + QStringList{"v.png"})
        << splitBackground << 2 << note;
    QTest::newRow("flat folder, labels in labels/: Ultralytics would not find them")
        << "flat labels" << QStringList{} << 1 << "" << QStringList{} << QStringList{} << 0
        << QByteArray("Ultralytics looks for the labels of");
    QTest::newRow("rotated boxes: a data.yaml for yolo obb train, the files without them named")
        << "split, rotated" << QStringList{} << 0 << "ds/data.yaml" << split << splitBackground << 1
        << QByteArray("2 label files hold rotated boxes and 1 hold none; `yolo obb train`");
    QTest::newRow("earlier file mixing box and polygon rows left out")
        << "split, mixed file" << QStringList{} << 1 << "ds/data.yaml" << split << splitBackground << 1
        << QByteArray("box rows beside polygon rows");
    QTest::newRow("stale copy where Ultralytics looks left out")
        << "split, stale copy" << QStringList{} << 1 << "ds/data.yaml" << split << QStringList{"d.png"} << 1
        << QByteArray("Ultralytics would read");
    QTest::newRow("class past the list left out") << "split, class past the list" << QStringList{} << 1
                                                  << "ds/data.yaml" << split << splitBackground << 1
                                                  << QByteArray("which the class list");
    QTest::newRow("VOC labels refused") << "voc" << QStringList{} << 1 << "" << QStringList{} << QStringList{} << 0
                                        << QByteArray("VOC");
    QTest::newRow("labelme labels refused") << "labelme" << QStringList{} << 1 << "" << QStringList{}
                                            << QStringList{} << 0 << QByteArray("are labelme JSON");
    QTest::newRow("no class list refused") << "no class list" << QStringList{} << 1 << "" << QStringList{}
                                           << QStringList{} << 0 << QByteArray("no class list");
    QTest::newRow("unreadable class list refused") << "unreadable class list" << QStringList{} << 1 << ""
                                                   << QStringList{} << QStringList{} << 0
                                                   << QByteArray("cannot read the class list");
    QTest::newRow("another tool's data.yaml kept") << "split, their data.yaml" << QStringList{} << 1 << ""
                                                   << QStringList{} << QStringList{} << 0
                                                   << QByteArray("not written by brindlemark-cli");
    QTest::newRow("another tool's train.txt kept") << "split, their train.txt" << QStringList{} << 1 << ""
                                                   << QStringList{} << QStringList{} << 0
                                                   << QByteArray("not written by brindlemark-cli");
    QTest::newRow("dangling data.yaml link refused") << "split, dangling data.yaml" << QStringList{} << 1 << ""
                                                     << QStringList{} << QStringList{} << 0
                                                     << QByteArray("refusing to write through a link");
    QTest::newRow("train.txt link to a user's file refused")
        << "split, train.txt links to a note" << QStringList{} << 1 << "" << QStringList{} << QStringList{} << 0
        << QByteArray("refusing to write through a link");
    QTest::newRow("flat folder, an image named train.png") << "flat beside, train.png" << QStringList{} << 1 << ""
                                                          << QStringList{} << QStringList{} << 0
                                                          << QByteArray("is where the labels of");
    for (const char *separator : {"U+2028", "U+2029", "U+0085", "\\x1c", "\\v", "\\f"}) {
        QTest::addRow("name with %s left out", separator)
            << QStringLiteral("split, name with ") + QLatin1String(separator) << QStringList{} << 1 << "ds/data.yaml"
            << split << splitBackground << 1 << QByteArray("cannot go into an image list");
    }
    QTest::newRow("one labelled image cannot be split") << "one labelled" << QStringList{} << 1 << ""
                                                        << QStringList{} << QStringList{} << 0
                                                        << QByteArray("at least 2");
}

// The data.yaml and image lists are checked the way Ultralytics reads them: list lines resolved by
// its rule, and the labels of every listed image found where it looks for them.
void TestCli::exportUltralytics()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, yaml);
    QFETCH(QStringList, labelled);
    QFETCH(QStringList, background);
    QFETCH(int, val);
    QFETCH(QByteArray, err);

    const QString work = m_tmp->path() + "/u";
    const bool flat = setup.startsWith("flat");
    const QString root = work + (flat ? "/flat" : "/ds");
    const QString dir = flat ? root : root + "/images/train";
    const bool fromRoot = setup == "root split";
    if (fromRoot) {
        QVERIFY(Fixtures::makeImage(root + "/images/val/v.png", 200, 100));
        QVERIFY(Fixtures::writeBytes(root + "/labels/val/classes.txt", "cat\n狗 dog\n"));
        QVERIFY(Fixtures::writeBytes(root + "/labels/val/v.txt", "0 0.5 0.5 0.5 0.5\n"));
    }
    QStringList unlabelled;   // named on stderr, in no list
    if (!args.contains("--include-unlabelled") && setup != "split, stale copy")
        unlabelled = setup.startsWith("flat beside") ? QStringList{"c.png", "e.png"} : QStringList{"e.png"};
    const QString labels = setup.startsWith("flat beside") ? root : flat ? root + "/labels" : root + "/labels/train";
    for (const char *name : {"a.png", "b.png", "c.png", "d.png", "e.png"})
        QVERIFY(Fixtures::makeImage(dir + "/" + name, 200, 100));
    if (setup == "unreadable class list")
        QVERIFY(QDir().mkpath(labels + "/classes.txt"));
    else if (setup != "no class list")
        QVERIFY(Fixtures::writeBytes(labels + "/classes.txt", "cat\n狗 dog\n"));
    if (setup == "voc") {
        QVERIFY(Fixtures::writeBytes(dir + "/annotations/a.xml",
                                     "<annotation><object><name>cat</name><bndbox><xmin>1</xmin><ymin>1</ymin>"
                                     "<xmax>9</xmax><ymax>9</ymax></bndbox></object></annotation>"));
    } else if (setup == "labelme") {
        QVERIFY(Fixtures::writeBytes(dir + "/a.json",
                                     R"({"shapes": [{"label": "cat", "points": [[1, 1], [9, 9]],
                                        "shape_type": "rectangle"}], "imageData": null})"));
    } else {
        QVERIFY(Fixtures::writeBytes(labels + "/a.txt", "0 0.5 0.5 0.5 0.5\n"));
        QVERIFY(Fixtures::writeBytes(labels + "/b.txt", setup.startsWith("flat beside")
                                                            ? "1 0.5 0.5 0.2 0.2\n"
                                                            : "1 0.1 0.1 0.9 0.1 0.5 0.9\n"
                                                              "0 0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75\n"));
        if (!setup.startsWith("flat") && setup != "one labelled")
            QVERIFY(Fixtures::writeBytes(labels + "/c.txt", "1 0.5 0.5 0.2 0.2\n"));
        if (setup == "split, rotated") {
            const QByteArray turned = "1 0.253125 0.195000 0.453125 0.595000 0.353125 0.795000 0.153125 0.395000\n";
            QVERIFY(Fixtures::writeBytes(labels + "/a.txt", turned));
            QVERIFY(Fixtures::writeBytes(labels + "/c.txt", turned));
        }
        if (setup == "one labelled")
            QVERIFY(QFile::remove(labels + "/b.txt"));
        QVERIFY(Fixtures::writeBytes(labels + "/d.txt", ""));
    }
    if (setup == "split, mixed file" || setup == "split, class past the list") {
        QVERIFY(Fixtures::makeImage(dir + "/f.png", 200, 100));
        QVERIFY(Fixtures::writeBytes(labels + "/f.txt", setup == "split, mixed file"
                                                            ? "0 0.5 0.5 0.5 0.5\n1 0.1 0.1 0.9 0.1 0.5 0.9\n"
                                                            : "5 0.5 0.5 0.5 0.5\n"));
    }
    if (setup == "split, stale copy") {
        // The newer copy beside the image is what Brindlemark shows; Ultralytics reads the other.
        QVERIFY(Fixtures::writeBytes(labels + "/e.txt", "0 0.5 0.5 0.5 0.5\n"));
        QVERIFY(Fixtures::writeBytes(dir + "/labels/e.txt", "1 0.5 0.5 0.2 0.2\n"));
        QFile old(labels + "/e.txt");
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    if (setup == "split, their data.yaml")
        QVERIFY(Fixtures::writeBytes(root + "/data.yaml", "path: .\nnames: [cat, dog]\n"));
    if (setup == "split, their train.txt")
        QVERIFY(Fixtures::writeBytes(root + "/train.txt", "images/train/a.png\n"));
    // A file of the user's outside the work folder, which a link in the dataset names.
    const QString outsideFile = m_tmp->path() + "/elsewhere/note.txt";
    if (setup == "split, dangling data.yaml") {
        QVERIFY(QDir().mkpath(m_tmp->path() + "/elsewhere"));
        QVERIFY(QFile::link(outsideFile, root + "/data.yaml"));
    }
    if (setup == "split, train.txt links to a note") {
        QVERIFY(Fixtures::writeBytes(outsideFile, "my note\n"));
        QVERIFY(Fixtures::writeBytes(root + "/data.yaml", "# brindlemark-cli export --to ultralytics\n"));
        QVERIFY(QFile::link(outsideFile, root + "/train.txt"));
    }
    if (setup == "flat beside, train.png")
        QVERIFY(Fixtures::makeImage(dir + "/train.png", 200, 100));
    if (setup.startsWith("split, name with ")) {
        const QMap<QString, QChar> separators{{"U+2028", QChar(0x2028)}, {"U+2029", QChar(0x2029)},
                                              {"U+0085", QChar(0x85)},   {"\\x1c", QChar(0x1c)},
                                              {"\\v", QChar(0x0b)},     {"\\f", QChar(0x0c)}};
        const QString name = "f" + QString(separators.value(setup.mid(17))) + "g.png";
        QVERIFY(separators.contains(setup.mid(17)));
        QVERIFY(Fixtures::makeImage(dir + "/" + name, 200, 100));
    }
    QVERIFY(QDir().mkpath(work + "/out"));
    for (QString &arg : args) {
        if (arg.endsWith(".yaml"))
            arg = work + "/" + arg;
    }
    const QMap<QString, QByteArray> before = filesUnder(work);
    QMap<QString, QByteArray> firstRun;

    for (int run = 0; run < 2; ++run) {
        const CliResult result =
            runCli(QStringList{"export", "--to", "ultralytics"} + args + QStringList{fromRoot ? root : dir}, inEnglish());
        QCOMPARE(result.exitCode, exitCode);
        QByteArray otherErr;
        QStringList named;
        for (const QByteArray &line : result.err.split('\n')) {
            if (line.contains(" has no label file"))
                named.append(QFileInfo(QString::fromUtf8(line.mid(17, line.indexOf(" has no label file") - 17))).fileName());
            else if (!line.isEmpty())
                otherErr += line + '\n';
        }
        QVERIFY2(err.isEmpty() ? otherErr.isEmpty() : otherErr.contains(err), result.err.constData());
        const QMap<QString, QByteArray> after = filesUnder(work);
        if (yaml.isEmpty()) {
            QVERIFY(result.lines.isEmpty());
            QCOMPARE(after, before);
            QCOMPARE(Fixtures::readBytes(outsideFile),
                     QByteArray(setup == "split, train.txt links to a note" ? "my note\n" : ""));
            QVERIFY(setup != "split, dangling data.yaml" || !QFileInfo::exists(outsideFile));
            return;
        }
        const QString yamlPath = work + "/" + yaml;
        const QString listDir = QFileInfo(yamlPath).absolutePath();
        const QJsonObject counts = QJsonDocument::fromJson(result.lines.value(0).toUtf8()).object();
        QCOMPARE(result.lines.size(), 1);
        QCOMPARE(named, unlabelled);
        QCOMPARE(counts, (QJsonObject{{"background", int(background.size())}, {"classes", 2},
                                      {"images", int(labelled.size() + background.size())}, {"output", yamlPath},
                                      {"rotated", setup == "split, rotated" ? 2 : 0},
                                      {"train", int(labelled.size() + background.size()) - val}, {"val", val},
                                      {"unlabelled", int(unlabelled.size())}}));
        // Only the three files are new.
        QStringList written = after.keys();
        for (const QString &file : before.keys()) {
            QCOMPARE(after.value(file), before.value(file));
            written.removeOne(file);
        }
        QStringList expectedFiles{listDir + "/train.txt", yamlPath, listDir + "/val.txt"};
        expectedFiles.sort();
        QCOMPARE(written, expectedFiles);
        const QByteArray task = setup == "split, rotated"
            ? "# oriented boxes (class x1 y1 x2 y2 x3 y3 x4 y4): yolo obb train data=<this file>\n"
            : "";
        QCOMPARE(after.value(yamlPath), "# brindlemark-cli export --to ultralytics\n" + task + "path: \"" + listDir.toUtf8()
                                            + "\"\ntrain: train.txt\nval: val.txt\nnames:\n  - \"cat\"\n"
                                              "  - \"狗 dog\"\n");

        QStringList trainImages;
        QStringList valImages;
        for (const QString &list : {QString("train.txt"), QString("val.txt")}) {
            const QStringList lines = QString::fromUtf8(after.value(listDir + "/" + list)).split('\n', Qt::SkipEmptyParts);
            for (const QString &line : lines) {
                // Relative lines only where the list's folder holds the image.
                QCOMPARE(line.startsWith("./"), fromRoot || dir.startsWith(listDir + "/") || dir == listDir);
                const QString image = resolvedListLine(line, listDir);
                QVERIFY2(QFileInfo(image).isFile(), qPrintable(line));
                (list == "train.txt" ? trainImages : valImages).append(QFileInfo(image).fileName());
                const QByteArray labelRows = Fixtures::readBytes(ultralyticsLabels(image));
                QCOMPARE(!labelRows.isEmpty(), labelled.contains(QFileInfo(image).fileName()));
            }
        }
        QCOMPARE(valImages.size(), val);
        if (fromRoot && !args.contains("--val"))
            QCOMPARE(valImages, QStringList{"v.png"});
        for (const QString &image : valImages)
            QVERIFY2(labelled.contains(image), qPrintable(image));
        QStringList all = trainImages + valImages;
        all.sort();
        QStringList expected = labelled + background;
        expected.sort();
        QCOMPARE(all, expected);
        // The second run rewrites its own files with the same split.
        if (run == 1)
            QCOMPARE(after, firstRun);
        firstRun = after;
    }
}

void TestCli::namesThatAreNotUtf8()
{
    // As zip archives made on Windows name files: Latin-1 bytes, which Qt cannot open by name.
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(m_dir) + "/caf\xe9 \xff.png",
                                          Fixtures::readBytes(m_dir + "/img2.png")));
    const QString named = m_dir + QStringLiteral("/caf\\xE9 \\xFF.png: file name is not valid UTF-8, rename it");
    const CliResult listed = runCli({"list", "."}, m_inDir);
    QCOMPARE(listed.exitCode, 1);
    QCOMPARE(listed.lines, (QStringList{m_dir + "/B1.png", m_dir + "/img2.png", m_dir + "/img10.png"}));
    QVERIFY2(listed.err.contains(named.toUtf8()), listed.err.constData());
    // Every command that goes through a folder names it and fails, doing the rest.
    const QList<QStringList> others = {{"check", "."}, {"convert", "--to", "yolo", "."}, {"export", "--to", "coco", "."}};
    for (const QStringList &args : others) {
        const CliResult other = runCli(args, m_inDir);
        QCOMPARE(other.exitCode, 1);
        QVERIFY2(other.err.contains(named.toUtf8()), other.err.constData());
        QVERIFY2(!other.out.isEmpty(), qPrintable(args.join(' ')));
    }

    // The name passed as it is, through a shell: a QStringList argument cannot carry those bytes.
    QProcess shell;
    shell.setWorkingDirectory(m_dir);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" show \"$(printf 'caf\\351 \\377.png')\""),
                                            cliPath()});
    QVERIFY(shell.waitForFinished(30000));
    QCOMPARE(shell.exitCode(), 1);
    QVERIFY(shell.readAllStandardOutput().isEmpty());
    const QByteArray err = shell.readAllStandardError();
    QVERIFY2(err.contains(named.toUtf8()), err.constData());
}

BRINDLE_TEST_MAIN(TestCli)
#include "tst_cli.moc"
