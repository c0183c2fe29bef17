#include "storagefixtures.h"
#include "testmain.h"

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

BRINDLE_TEST_MAIN(TestCli)
#include "tst_cli.moc"
