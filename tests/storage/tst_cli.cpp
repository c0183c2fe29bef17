#include "layoutfixtures.h"
#include "storagefixtures.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
    void convertKeepsLabelsOfUnreadableImage_data();
    void convertKeepsLabelsOfUnreadableImage();
    void otherLayouts_data();
    void otherLayouts();
    void exportCoco_data();
    void exportCoco();
    void exportLeavesOutWhatCannotBeRead();
    void namesThatAreNotUtf8();

private:
    struct Result
    {
        int exitCode = -1;
        QStringList out;
        QByteArray err;
    };
    Result runCli(const QStringList &args);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
};

void TestCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + "/ds/images";
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

TestCli::Result TestCli::runCli(const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(m_dir);
    process.start(QStringLiteral(BRINDLE_CLI_PATH), args);
    Result result;
    if (!process.waitForFinished(30000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    result.out = out.split('\n', Qt::SkipEmptyParts);
    result.err = process.readAllStandardError();
    return result;
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

    const Result result = runCli(args);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    QCOMPARE(!result.err.isEmpty(), errors);
    if (exitCode == 2)
        QVERIFY2(result.err.contains("usage: brindlemark-cli"), result.err.constData());
}

void TestCli::convertRewritesFiles()
{
    Result result = runCli({"convert", "--to", "voc", "."});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out.size(), 3);
    QVERIFY(result.out[0].contains(R"("skipped":true)")); // B1 has no labels and gets none
    QCOMPARE(result.out[1], QString(R"({"count":1,"format":"voc","image":"%1/img2.png"})").arg(m_dir));
    QVERIFY(!QFile::exists(m_tmp->path() + "/ds/labels/img2.txt"));
    QVERIFY(!QFile::exists(m_dir + "/annotations/B1.xml"));
    QVERIFY(Fixtures::readBytes(m_dir + "/annotations/img2.xml").contains("<xmin>50.00</xmin>"));

    result = runCli({"convert", "--to", "yolo", "--classes", "dog,cat", "img2.png"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!QFile::exists(m_dir + "/annotations/img2.xml"));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/img2.txt"),
             QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")); // the existing class list wins
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/classes.txt"), QByteArray("cat\n"));

    QVERIFY(QFile::remove(m_tmp->path() + "/ds/labels/classes.txt"));
    result = runCli({"convert", "--to=yolo", "--classes=dog,cat", "img2.png"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/img2.txt"),
             QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")); // label "0" read back keeps its index
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/ds/labels/classes.txt"), QByteArray("dog\ncat\n"));
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

    const Result result = runCli({"convert", "--to", to, "broken.png"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!result.err.isEmpty());
    QCOMPARE(Fixtures::readBytes(labelPath), content);
    QVERIFY(!QFile::exists(m_tmp->path() + "/ds/" + target));
}

void TestCli::otherLayouts_data()
{
    QTest::addColumn<QString>("layout");
    for (const char *name : {"voc devkit", "xml beside", "yolo 1.1", "ultralytics map with a gap", "label studio",
                             "captions", "foreign xml beside"})
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

    Result result = runCli({"show", l.image});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out.size(), 1);
    const QJsonObject shown = QJsonDocument::fromJson(result.out[0].toUtf8()).object();
    QCOMPARE(shown["count"].toInt(), l.labelFile.isEmpty() ? -1 : int(l.labels.size()));
    QStringList labels;
    for (const QJsonValue &a : shown["annotations"].toArray())
        labels.append(a.toObject()["label"].toString());
    QCOMPARE(labels, l.labels);

    const bool voc = l.labelFile.endsWith(".xml");
    const QString to = voc ? "yolo" : "voc";
    result = runCli({"convert", "--to", to, QFileInfo(l.image).absolutePath()});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out.size(), 1);
    const QJsonObject converted = QJsonDocument::fromJson(result.out[0].toUtf8()).object();
    QCOMPARE(converted["count"].toInt(), l.labelFile.isEmpty() ? -1 : int(l.labels.size()));
    QCOMPARE(converted["skipped"].toBool(), l.labelFile.isEmpty());
    if (!l.labelFile.isEmpty()) {
        QVERIFY(!QFile::exists(l.labelFile));
        QCOMPARE(runCli({"convert", "--to", voc ? "voc" : "yolo", l.image}).exitCode, 0);
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QCOMPARE(Fixtures::readBytes(it.key()), it.value());
}

void TestCli::exportCoco_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::newRow("standard output") << false;
    QTest::newRow("--output") << true;
}

void TestCli::exportCoco()
{
    QFETCH(bool, toFile);
    // a.png: YOLO, a box and a polygon; b.png: VOC, a box of a category only files name and a
    // polygon; c.png: no labels but a pending result, which is not exported.
    const QString dir = m_tmp->path() + "/coco";
    QVERIFY(Fixtures::makeImage(dir + "/a.png", 200, 100));
    QVERIFY(Fixtures::makeImage(dir + "/b.png", 100, 100));
    QVERIFY(Fixtures::makeImage(dir + "/c.png", 50, 40));
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
    const Result result = runCli(args);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QByteArray json;
    if (toFile) {
        QCOMPARE(result.out, QStringList{QString(R"({"annotations":4,"categories":4,"images":3,"output":"%1"})")
                                             .arg(output)});
        json = Fixtures::readBytes(output);
    } else {
        QCOMPARE(result.out.size(), 1);
        json = result.out[0].toUtf8();
    }
    const QJsonObject coco = QJsonDocument::fromJson(json).object();

    const auto image = [](int id, const char *name, int w, int h) {
        return QJsonObject{{"id", id}, {"file_name", name}, {"width", w}, {"height", h}};
    };
    QCOMPARE(coco["images"].toArray(),
             QJsonArray({image(1, "a.png", 200, 100), image(2, "b.png", 100, 100), image(3, "c.png", 50, 40)}));
    const auto category = [](int id, const char *name) { return QJsonObject{{"id", id}, {"name", name}}; };
    QCOMPARE(coco["categories"].toArray(),
             QJsonArray({category(1, "cat"), category(2, "dog"), category(3, "bird"), category(4, "owl")}));
    const auto shape = [](int id, int image, int category, const QJsonArray &bbox, double area,
                          const QJsonArray &segmentation) {
        return QJsonObject{{"id", id}, {"image_id", image}, {"category_id", category}, {"bbox", bbox},
                           {"area", area}, {"iscrowd", 0}, {"segmentation", segmentation}};
    };
    QCOMPARE(coco["annotations"].toArray(),
             QJsonArray({shape(1, 1, 1, {50, 25, 100, 50}, 5000, {}),
                         shape(2, 1, 2, {20, 10, 160, 80}, 6400, {QJsonValue(QJsonArray{20, 10, 180, 10, 100, 90})}),
                         shape(3, 2, 4, {10, 10, 20, 30}, 600, {}),
                         shape(4, 2, 1, {10, 10, 40, 40}, 800, {QJsonValue(QJsonArray{10, 10, 50, 10, 50, 50})})}));
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
    const Result result = runCli({"export", "--to", "coco", dir});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("b.png") && result.err.contains("c.txt"), result.err.constData());
    const QJsonObject coco = QJsonDocument::fromJson(result.out.value(0).toUtf8()).object();
    QCOMPARE(coco["images"].toArray().size(), 1);
    QCOMPARE(coco["images"].toArray()[0].toObject()["file_name"].toString(), QString("a.png"));
    QCOMPARE(coco["annotations"].toArray().size(), 1);
    QCOMPARE(coco["categories"].toArray(), QJsonArray{QJsonObject({{"id", 1}, {"name", "0"}})});
}

void TestCli::namesThatAreNotUtf8()
{
    // As zip archives made on Windows name files: Latin-1 bytes, which Qt cannot open by name.
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(m_dir) + "/caf\xe9 \xff.png",
                                          Fixtures::readBytes(m_dir + "/img2.png")));
    const QString named = m_dir + QStringLiteral("/caf\\xE9 \\xFF.png: file name is not valid UTF-8, rename it");
    const Result listed = runCli({"list", "."});
    QCOMPARE(listed.exitCode, 1);
    QCOMPARE(listed.out, (QStringList{m_dir + "/B1.png", m_dir + "/img2.png", m_dir + "/img10.png"}));
    QVERIFY2(listed.err.contains(named.toUtf8()), listed.err.constData());

    // The name passed as it is, through a shell: a QStringList argument cannot carry those bytes.
    QProcess shell;
    shell.setWorkingDirectory(m_dir);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" show \"$(printf 'caf\\351 \\377.png')\""),
                                            QStringLiteral(BRINDLE_CLI_PATH)});
    QVERIFY(shell.waitForFinished(30000));
    QCOMPARE(shell.exitCode(), 1);
    QVERIFY(shell.readAllStandardOutput().isEmpty());
    const QByteArray err = shell.readAllStandardError();
    QVERIFY2(err.contains(named.toUtf8()), err.constData());
}

BRINDLE_TEST_MAIN(TestCli)
#include "tst_cli.moc"
