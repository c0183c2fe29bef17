#include "storage/layoutfixtures.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/clirunner.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// DOTA through the built brindlemark-cli: show reads a labelTxt folder as shipped, convert goes
// there and back, export writes a labelTxt folder of its own.
class TestDotaCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void showAndConvert_data();
    void showAndConvert();
    void convertNeedsAnImagesFolder();
    void exportDota_data();
    void exportDota();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

namespace {

QJsonObject shown(const QString &image)
{
    const CliResult result = runCli({"show", image});
    return QJsonDocument::fromJson(result.out).object();
}

QList<QPointF> pointsOf(const QJsonObject &a)
{
    QList<QPointF> points;
    for (const QJsonValue &p : a.value("points").toArray())
        points.append(QPointF(p.toArray().at(0).toDouble(), p.toArray().at(1).toDouble()));
    return points;
}

} // namespace

void TestDotaCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
}

void TestDotaCli::showAndConvert_data()
{
    QTest::addColumn<QStringList>("formats");
    QTest::newRow("to VOC and back") << QStringList{"voc", "dota"};
    QTest::newRow("to YOLO and back") << QStringList{"yolo", "dota"};
    QTest::newRow("to YOLO, VOC and back") << QStringList{"yolo", "voc", "dota"};
}

void TestDotaCli::showAndConvert()
{
    QFETCH(QStringList, formats);
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "dota");
    QVERIFY(!l.image.isEmpty());
    QJsonObject line = shown(l.image);
    QCOMPARE(line["count"].toInt(), 3);
    QVERIFY(line["complete"].toBool());
    const QJsonArray before = line["annotations"].toArray();
    QCOMPARE(before.size(), 3);
    QCOMPARE(before[0].toObject()["kind"].toString(), QStringLiteral("rotated"));
    QCOMPARE(before[0].toObject()["angle"].toDouble(), 45.0);
    QCOMPARE(pointsOf(before[0].toObject()).first(), QPointF(60, 10));
    QCOMPARE(before[1].toObject()["kind"].toString(), QStringLiteral("polygon"));
    QCOMPARE(before[2].toObject()["label"].toString(), QStringLiteral("small-vehicle"));
    QVERIFY(before[2].toObject()["difficult"].toBool());

    bool throughYolo = false;
    for (const QString &format : formats) {
        throughYolo = throughYolo || format == "yolo";
        const CliResult result = runCli({"convert", "--to", format, QFileInfo(l.image).absolutePath()});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.lines.size(), 1);
        const QJsonObject converted = QJsonDocument::fromJson(result.lines[0].toUtf8()).object();
        QCOMPARE(converted["format"].toString(), format);
        QCOMPARE(converted["count"].toInt(), 3);
        QCOMPARE(QFile::exists(l.labelFile), format == "dota");
        const QJsonArray now = shown(l.image)["annotations"].toArray();
        QCOMPARE(now.size(), before.size());
        for (qsizetype i = 0; i < now.size(); ++i) {
            const QJsonObject a = now[i].toObject();
            const QJsonObject b = before[i].toObject();
            QCOMPARE(a["kind"], b["kind"]);
            QCOMPARE(a["label"], b["label"]);
            QVERIFY2(nearPoints(pointsOf(a), pointsOf(b), 1.0), qPrintable(format));
            if (!throughYolo)
                QCOMPARE(a["difficult"], b["difficult"]);
        }
    }
    QCOMPARE(Fixtures::readBytes(l.labelFile).count('\n'), 3);
}

// DOTA's labels live in ../labelTxt of an images/ folder: elsewhere the image keeps its file.
void TestDotaCli::convertNeedsAnImagesFolder()
{
    const QString image = m_tmp->path() + "/photos/a.png";
    QVERIFY(Fixtures::makeImage(image, 200, 100));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/photos/labels/a.txt", "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/photos/labels/classes.txt", "cat\n"));
    const CliResult result = runCli({"convert", "--to", "dota", image});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("labelTxt"), result.err.constData());
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/photos/labels/a.txt"), QByteArray("0 0.5 0.5 0.2 0.2\n"));
}

void TestDotaCli::exportDota_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("unlabelled");
    QTest::newRow("labelled images") << QStringList{} << 0 << 3 << 1;
    QTest::newRow("with the unlabelled") << QStringList{"--include-unlabelled"} << 0 << 4 << 0;
}

// The dataset's files stay as they are; the folder holds one file per image, a background image's
// empty; an export never writes over files already there.
void TestDotaCli::exportDota()
{
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(int, images);
    QFETCH(int, unlabelled);
    const QString ds = m_tmp->path() + "/ds";
    for (const char *name : {"a.png", "b.png", "c.png", "d.png"})
        QVERIFY(Fixtures::makeImage(ds + "/images/" + name, 200, 100));
    const QByteArray yolo = "0 0.25 0.195 0.45 0.595 0.35 0.795 0.15 0.395\n1 0.5 0.5 0.2 0.2\n";
    QVERIFY(Fixtures::writeBytes(ds + "/labels/a.txt", yolo));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/b.txt", ""));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/classes.txt", "plane\nship\n"));
    QVERIFY(Fixtures::writeBytes(ds + "/images/c.xml",
                                 "<annotation><object><name>harbor</name><difficult>1</difficult><bndbox><xmin>10"
                                 "</xmin><ymin>20</ymin><xmax>40</xmax><ymax>30</ymax></bndbox></object>"
                                 "</annotation>\n"));
    const QString out = m_tmp->path() + "/out";

    CliResult result = runCli(QStringList{"export", "--to", "dota", "--output", out} + extra + QStringList{ds}, inEnglish());
    QCOMPARE(result.exitCode, exitCode);
    const QJsonObject summary = result.json();
    QCOMPARE(summary["images"].toInt(), images);
    QCOMPARE(summary["annotations"].toInt(), 3);
    QCOMPARE(summary["unlabelled"].toInt(), unlabelled);
    QCOMPARE(summary["output"].toString(), out + "/labelTxt");
    QCOMPARE(result.err.contains("d.png has no label file"), unlabelled == 1);
    QCOMPARE(Fixtures::readBytes(out + "/labelTxt/a.txt"),
             QByteArray("50 19.5 90 59.5 70 79.5 30 39.5 plane 0\n80 40 120 40 120 60 80 60 ship 0\n"));
    QCOMPARE(Fixtures::readBytes(out + "/labelTxt/b.txt"), QByteArray());
    QVERIFY(QFile::exists(out + "/labelTxt/b.txt"));
    QCOMPARE(Fixtures::readBytes(out + "/labelTxt/c.txt"), QByteArray("10 20 40 20 40 30 10 30 harbor 1\n"));
    QCOMPARE(QFile::exists(out + "/labelTxt/d.txt"), unlabelled == 0);
    QCOMPARE(Fixtures::readBytes(ds + "/labels/a.txt"), yolo);

    result = runCli({"export", "--to", "dota", "--output", out, ds}, inEnglish());
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.err.contains("not empty"));
    QCOMPARE(runCli({"export", "--to", "dota", ds}).exitCode, 2);
}

BRINDLE_TEST_MAIN(TestDotaCli)
#include "tst_dotacli.moc"
