#include "storage/annotationstore.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/clirunner.h"
#include "testmain.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// brindlemark-cli with the shapes beyond boxes and polygons (pose keypoints, rotated boxes), every
// command's --help, and its messages in the locale's language.
class TestShapesCli : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void poseDataset_data();
    void poseDataset();
    void rotatedBoxShownAndConverted_data();
    void rotatedBoxShownAndConverted();
    void helpOfEachCommand_data();
    void helpOfEachCommand();
    void messagesInTheLocaleLanguage_data();
    void messagesInTheLocaleLanguage();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    CliOptions m_inDir;   // the tool runs in the image directory
};

void TestShapesCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_inDir.workingDirectory = m_tmp->path() + "/ds/images";
    QVERIFY(Fixtures::makeImage(m_inDir.workingDirectory + "/img2.png", 200, 100));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/labels/classes.txt", "cat\n"));
}

namespace {

QList<QList<double>> valuesOfRows(const QByteArray &text)
{
    QList<QList<double>> rows;
    for (const QByteArray &line : text.split('\n')) {
        QList<double> values;
        for (const QByteArray &field : line.simplified().split(' '))
            if (!field.isEmpty())
                values.append(field.toDouble());
        if (!values.isEmpty())
            rows.append(values);
    }
    return rows;
}

bool sameValues(const QList<QList<double>> &a, const QList<QList<double>> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype r = 0; r < a.size(); ++r) {
        if (a[r].size() != b[r].size())
            return false;
        for (qsizetype i = 0; i < a[r].size(); ++i) {
            if (qAbs(a[r][i] - b[r][i]) > 1e-6)
                return false;
        }
    }
    return true;
}

} // namespace

void TestShapesCli::poseDataset_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("dims");
    QTest::addColumn<QByteArray>("namesLine");   // keypoint names in data.yaml; empty: none
    QTest::addColumn<QStringList>("names");      // the categories' keypoint names in COCO
    QTest::newRow("Ultralytics sample, 3 keypoints") << 3 << 3 << QByteArray() << QStringList{"kp0", "kp1", "kp2"};
    QStringList person{"nose", "left_eye", "right_eye", "left_ear", "right_ear", "left_shoulder", "right_shoulder",
                       "left_elbow", "right_elbow", "left_wrist", "right_wrist", "left_hip", "right_hip",
                       "left_knee", "right_knee", "left_ankle", "right_ankle"};
    QTest::newRow("COCO person, 17 keypoints")
        << 17 << 3 << QByteArray("kpt_names:\n  0: [" + person.join(", ").toUtf8() + "]\n") << person;
    QTest::newRow("keypoints without visibility") << 2 << 2 << QByteArray() << QStringList{"kp0", "kp1"};
}

// show reads boxes with their keypoints; convert to VOC refuses, to YOLO keeps every value; the
// COCO export writes COCO's keypoint fields.
void TestShapesCli::poseDataset()
{
    QFETCH(int, count);
    QFETCH(int, dims);
    QFETCH(QByteArray, namesLine);
    QFETCH(QStringList, names);
    const QString ds = m_tmp->path() + "/pose";
    const QString image = ds + "/images/train/p.png";
    const QString labels = ds + "/labels/train/p.txt";
    QVERIFY(Fixtures::makeImage(image, 200, 100));
    const QByteArray yaml = "path: .\ntrain: images/train\nval: images/train\nnames:\n  0: person\n  1: dog\nkpt_shape: ["
        + QByteArray::number(count) + ", " + QByteArray::number(dims) + "]\n" + namesLine;
    QVERIFY(Fixtures::writeBytes(ds + "/data.yaml", yaml));
    const QByteArray rows = poseRow(0, count, dims) + poseRow(1, count, dims);
    QVERIFY(Fixtures::writeBytes(labels, rows));

    const CliResult shown = runCli({"show", image});
    QCOMPARE(shown.exitCode, 0);
    const QJsonObject line = QJsonDocument::fromJson(shown.lines.value(0).toUtf8()).object();
    QVERIFY2(line.value("complete").toBool(), shown.out.constData());
    const QJsonArray annotations = line.value("annotations").toArray();
    QCOMPARE(annotations.size(), 2);
    for (const QJsonValue &a : annotations) {
        QCOMPARE(a["kind"].toString(), QStringLiteral("rect"));
        QCOMPARE(a["confidence"].toDouble(), -1.0);
        QCOMPARE(a["keypoints"].toArray().size(), count);
        QCOMPARE(a["keypoints"].toArray().first().toArray().size(), dims);
    }
    QCOMPARE(annotations.first()["rect"].toArray(), (QJsonArray{50, 25, 100, 50}));
    QCOMPARE(annotations.first()["keypoints"].toArray().first().toArray().at(0).toDouble(), 200.0 / 64);

    const CliResult toVoc = runCli({"convert", "--to", "voc", image}, inEnglish());
    QCOMPARE(toVoc.exitCode, 1);
    QVERIFY2(toVoc.err.contains("keypoints") && toVoc.err.contains("data.yaml"), toVoc.err.constData());
    QCOMPARE(Fixtures::readBytes(labels), rows);
    QVERIFY(!QFileInfo::exists(ds + "/images/train/annotations/p.xml"));

    const CliResult toYolo = runCli({"convert", "--to", "yolo", image});
    QCOMPARE(toYolo.exitCode, 0);
    QVERIFY2(sameValues(valuesOfRows(Fixtures::readBytes(labels)), valuesOfRows(rows)), Fixtures::readBytes(labels).constData());
    QCOMPARE(Fixtures::readBytes(ds + "/data.yaml"), yaml);

    const CliResult coco = runCli({"export", "--to", "coco", ds + "/images/train"});
    QCOMPARE(coco.exitCode, 0);
    const QJsonObject document = QJsonDocument::fromJson(coco.out).object();
    const QJsonArray categories = document.value("categories").toArray();
    QCOMPARE(categories.size(), 2);
    QCOMPARE(categories.first()["keypoints"].toArray(), QJsonArray::fromStringList(names));
    const QJsonObject first = document.value("annotations").toArray().first().toObject();
    const QJsonArray keypoints = first.value("keypoints").toArray();
    QCOMPARE(keypoints.size(), 3 * count);
    // The last point is unlabelled: 0 0 0; the others are labelled.
    QCOMPARE(first.value("num_keypoints").toInt(), count - 1);
    QCOMPARE(keypoints.at(0).toDouble(), 200.0 / 64);
    QCOMPARE(keypoints.at(1).toDouble(), 100.0 * 2 / 64);
    QCOMPARE(keypoints.at(2).toInt(), 2);
    QCOMPARE(keypoints.last().toInt(), 0);
    QCOMPARE(first.value("bbox").toArray(), (QJsonArray{50, 25, 100, 50}));

    // Another tool's VOC polygon there: no row of the dataset can hold it, and the message says so.
    const QString outlined = ds + "/images/train/q.png";
    QVERIFY(Fixtures::makeImage(outlined, 200, 100));
    QVERIFY(saveAnnotations(outlined, {polygon("dog", {{120, 10}, {180, 10}, {150, 60}})}, LabelFormat::Voc, {},
                            nullptr));
    const QString xml = readStoredAnnotations(outlined).file;
    const QByteArray xmlBefore = Fixtures::readBytes(xml);
    const CliResult outlineToYolo = runCli({"convert", "--to", "yolo", outlined}, inEnglish());
    QCOMPARE(outlineToYolo.exitCode, 1);
    QVERIFY2(outlineToYolo.err.contains((ds + "/data.yaml declares keypoints (kpt_shape), so every row is a box with "
                                              "keypoints and cannot hold a polygon or rotated box").toUtf8()),
             outlineToYolo.err.constData());
    QCOMPARE(Fixtures::readBytes(xml), xmlBefore);
    QVERIFY(!QFileInfo::exists(ds + "/labels/train/q.txt"));
}

void TestShapesCli::rotatedBoxShownAndConverted_data()
{
    QTest::addColumn<QStringList>("formats");
    QTest::newRow("YOLO to VOC and back") << QStringList{"voc", "yolo"};
    QTest::newRow("YOLO to VOC to VOC to YOLO") << QStringList{"voc", "voc", "yolo"};
}

// show names the kind and the turn; conversions keep the corners within a pixel, first corner first.
void TestShapesCli::rotatedBoxShownAndConverted()
{
    QFETCH(QStringList, formats);
    const QString labels = m_tmp->path() + "/ds/labels";
    QVERIFY(Fixtures::writeBytes(labels + "/img2.txt", "0 0.253125 0.195000 0.453125 0.595000 0.353125 0.795000 "
                                                      "0.153125 0.395000\n"));
    const QList<QPointF> corners{{50.625, 19.5}, {90.625, 59.5}, {70.625, 79.5}, {30.625, 39.5}};
    const auto shown = [this] {
        const CliResult result = runCli({"show", "img2.png"}, m_inDir);
        return QJsonDocument::fromJson(result.out).object().value("annotations").toArray().at(0).toObject();
    };
    const auto pointsOf = [](const QJsonObject &a) {
        QList<QPointF> points;
        for (const QJsonValue &p : a.value("points").toArray())
            points.append(QPointF(p.toArray().at(0).toDouble(), p.toArray().at(1).toDouble()));
        return points;
    };
    QJsonObject a = shown();
    QCOMPARE(a.value("kind").toString(), QStringLiteral("rotated"));
    QCOMPARE(a.value("angle").toDouble(), 45.0);
    QCOMPARE(pointsOf(a), corners);
    for (const QString &format : formats) {
        const CliResult result = runCli({"convert", "--to", format, "img2.png"}, m_inDir);
        QCOMPARE(result.exitCode, 0);
        a = shown();
        QCOMPARE(a.value("kind").toString(), QStringLiteral("rotated"));
        QCOMPARE(a.value("label").toString(), QStringLiteral("cat"));
        QVERIFY2(nearPoints(pointsOf(a), corners, 0.01), qPrintable(QJsonDocument(a).toJson()));
    }
    QCOMPARE(QFile::exists(labels + "/img2.txt"), formats.last() == "yolo");
}


// Every command answers -h and --help with its usage and each option it takes, in the locale's language.
void TestShapesCli::helpOfEachCommand_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("usageWord");
    QTest::addColumn<QStringList>("options");
    const QByteArray en("en_US.UTF-8");
    const QString usage("Usage:");
    QTest::newRow("list --help") << QStringList{"list", "--help"} << en << usage << QStringList{};
    QTest::newRow("show -h") << QStringList{"show", "-h"} << en << usage << QStringList{};
    QTest::newRow("pending --help") << QStringList{"pending", "--help"} << en << usage << QStringList{};
    QTest::newRow("convert --help") << QStringList{"convert", "--help"} << en << usage
                                    << QStringList{"--to", "--classes"};
    QTest::newRow("export -h") << QStringList{"export", "-h"} << en << usage
                               << QStringList{"--to", "--val", "--seed", "--output", "--include-unlabelled"};
    QTest::newRow("import --help") << QStringList{"import", "--help"} << en << usage
                                   << QStringList{"--from", "--merge", "--format"};
    QTest::newRow("parse --help, other options ignored")
        << QStringList{"parse", "--source", "nonsense", "--help"} << en << usage
        << QStringList{"--source", "--sent", "--min-score", "--classes", "--restrict", "--pending"};
    QTest::newRow("check --help") << QStringList{"check", "--help"} << en << usage
                                  << QStringList{"--classes", "--server", "--server URL2", "--model", "--concurrency",
                                                 "--timeout"};
    QTest::newRow("label --help") << QStringList{"label", "--help"} << en << usage
                                  << QStringList{"--server", "--model", "--concurrency", "--timeout", "--prompt",
                                                 "--classes", "--min-score", "--unlabelled", "--confirmed",
                                                 "--add-classes", "--format"};
    QTest::newRow("label -h in German") << QStringList{"label", "-h"} << QByteArray("de_DE.UTF-8") << "Aufruf:"
                                        << QStringList{"--server", "--confirmed"};
    QTest::newRow("check --help in Chinese") << QStringList{"check", "--help"} << QByteArray("zh_CN.UTF-8")
                                             << QStringLiteral("用法：") << QStringList{"--server"};
}

void TestShapesCli::helpOfEachCommand()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, locale);
    QFETCH(QString, usageWord);
    QFETCH(QStringList, options);
    CliOptions run;
    run.locale = locale;
    const CliResult result = runCli(args, run);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    const QString out = QString::fromUtf8(result.out);
    QVERIFY2(out.startsWith(usageWord + "brindlemark-cli " + args.first())
                 || out.startsWith(usageWord + " brindlemark-cli " + args.first()),
             qPrintable(out));
    QVERIFY(out.contains("-h, --help"));
    // Each option has a line of its own that says what it does.
    for (const QString &option : options) {
        const QRegularExpression line("\\n  " + QRegularExpression::escape(option) + "\\b[^\\n]*  \\S");
        QVERIFY2(out.contains(line), qPrintable(option + " in\n" + out));
    }
    // Not the sign of an option taken as an argument.
    QVERIFY(!out.contains("unknown option"));
}

// What people read follows LANG (English for C, unset or a language we lack); what scripts read
// (option names, "kind", exit codes) stays. %E: a folder without images.
void TestShapesCli::messagesInTheLocaleLanguage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("onStderr");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("kept");   // in every language
    struct Message
    {
        const char *name;
        QStringList args;
        int exitCode;
        bool onStderr;
        QString english, german, chinese, kept;
    };
    const QList<Message> messages{
        {"usage error", {"list"}, 2, true, "usage: brindlemark-cli list DIR", "Aufruf: brindlemark-cli list DIR",
         QStringLiteral("用法：brindlemark-cli list DIR"), "brindlemark-cli list DIR"},
        {"unknown option", {"convert", "--to", "voc", "--fast", "img2.png"}, 2, true, "unknown option: --fast",
         "unbekannte Option: --fast", QStringLiteral("未知选项：--fast"), "--fast"},
        {"per-image line", {"show", "img2.png", "gone.png"}, 1, true, "no such image: gone.png",
         "Bild nicht gefunden: gone.png", QStringLiteral("没有这张图片：gone.png"), "\"count\":1"},
        {"folder without images", {"list", "%E"}, 2, true, "no images in %E", "keine Bilder in %E",
         QStringLiteral("%E 中没有图片"), "%E"},
        {"--help", {"convert", "--help"}, 0, false, "show this help", "diese Hilfe anzeigen",
         QStringLiteral("显示此帮助"), "--classes a,b,..."},
        {"check finding", {"check", "--classes", "car,bus", "."}, 1, false, "\"problem\":\"Unknown category\"",
         "\"problem\":\"Unbekannte Kategorie\"", QStringLiteral("\"problem\":\"未知类别\""),
         "\"kind\":\"unknown_category\""},
        {"a file that cannot be read", {"import", "--from", "coco", "%E/cut.json", "%E"}, 1, true, ": not JSON: ",
         ": kein JSON: ", QStringLiteral(": 不是 JSON："), "cut.json"},
    };
    for (const Message &m : messages) {
        QTest::addRow("%s, C", m.name) << m.args << QByteArray("C") << m.exitCode << m.onStderr << m.english
                                       << m.english << m.kept;
        QTest::addRow("%s, unset", m.name) << m.args << QByteArray() << m.exitCode << m.onStderr << m.english
                                           << m.english << m.kept;
        QTest::addRow("%s, German", m.name) << m.args << QByteArray("de_DE.UTF-8") << m.exitCode << m.onStderr
                                            << m.german << m.english << m.kept;
        QTest::addRow("%s, Chinese", m.name) << m.args << QByteArray("zh_CN.UTF-8") << m.exitCode << m.onStderr
                                             << m.chinese << m.english << m.kept;
    }
}

void TestShapesCli::messagesInTheLocaleLanguage()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, locale);
    QFETCH(int, exitCode);
    QFETCH(bool, onStderr);
    QFETCH(QString, said);
    QFETCH(QString, english);
    QFETCH(QString, kept);
    const QString empty = m_tmp->path() + "/empty";
    QVERIFY(QDir().mkpath(empty));
    QVERIFY(Fixtures::writeBytes(empty + "/cut.json", "{\"images\": ["));
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/labels/img2.txt", "0 0.5 0.5 0.2 0.2\n"));
    args.replaceInStrings("%E", empty);
    said.replace("%E", empty);
    english.replace("%E", empty);
    kept.replace("%E", empty);

    CliOptions run = m_inDir;
    run.locale = locale;
    const CliResult result = runCli(args, run);
    QCOMPARE(result.exitCode, exitCode);
    const QString text = QString::fromUtf8(result.out + result.err);
    const QString stream = QString::fromUtf8(onStderr ? result.err : result.out);
    QVERIFY2(stream.contains(said), qPrintable(text));
    QVERIFY2(text.contains(kept), qPrintable(text));
    // Another language really replaces the English words.
    QVERIFY2(said == english || !text.contains(english), qPrintable(text));
}

BRINDLE_TEST_MAIN(TestShapesCli)
#include "tst_shapescli.moc"
