#include "session/foldersession.h"
#include "session/liveannotations.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfile.h"
#include "storage/storagefixtures.h"
#include "shared/language.h"
#include "support/annotationbuilders.h"
#include "support/livestub.h"
#include "support/clirunner.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

namespace {

// On a 200 x 100 image this is the box (20, 20)-(60, 40).
const QString kCat = QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]");
const QByteArray kChatPath = "/v1/chat/completions";

// The summary's fields before the per-server counts, which keep their names and order.
QByteArray withoutServers(const QByteArray &out)
{
    const QByteArray line = out.trimmed();
    const qsizetype at = line.indexOf(",\"servers\":[");
    return at < 0 || !line.endsWith("]}") ? line : line.left(at) + '}';
}

Annotation catBox(int pending)
{
    return box(QStringLiteral("Cat"), 20, 20, 60, 40, pending);
}



} // namespace

// brindlemark-cli label, run as a process against a fake server in this process. The test's event
// loop keeps running while the child runs, so the server can answer.
class TestLabelCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pendingRun();
    void confirmedRun_data();
    void confirmedRun();
    void categoryTheDataYamlLacks_data();
    void categoryTheDataYamlLacks();
    void datasetRootOrNoImages_data();
    void datasetRootOrNoImages();
    void datasetRootSplits_data();
    void datasetRootSplits();
    void confirmedRunKeepsKeypoints();
    void unreadableLabelFileKept_data();
    void unreadableLabelFileKept();
    void resumedUnlabelledRun();
    void secondPendingRunAddsNothing();
    void usageErrors_data();
    void usageErrors();
    void unreachableServer();
    void interrupted_data();
    void interrupted();
    void concurrencyAtTheServer();
    void hugeImagesWithinMemory();
    void serverAnswers_data();
    void serverAnswers();
    void linksLeavingTheDataset_data();
    void linksLeavingTheDataset();
    void windowHoldsTheFolder_data();
    void windowHoldsTheFolder();
    void movedFolderKeepsResults_data();
    void movedFolderKeepsResults();
    void staleLockTakenOver();

private:
    QString addImage(const QString &name);
    static CliResult runLabel(const QStringList &args, const CliOptions &options = CliOptions())
    {
        return runCli(QStringList{QStringLiteral("label")} + args, options);
    }
    QStringList serverArgs() const { return {QStringLiteral("--server"), m_server->baseUrl()}; }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
    FakeOpenAiServer *m_server = nullptr;
};

void TestLabelCli::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/images");
    m_images.clear();
    m_server = new FakeOpenAiServer(this);
    QVERIFY(m_server->listen());
    m_server->setAnswerFor("/v1/models", FakeOpenAiServer::status(200, R"({"data":[{"id":"served-model"}]})"));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
}

void TestLabelCli::cleanup()
{
    delete m_server;
    m_server = nullptr;
}

QString TestLabelCli::addImage(const QString &name)
{
    const QString path = m_dir + QLatin1Char('/') + name;
    if (!Fixtures::makeImage(path, 200, 100))
        return QString();
    m_images.append(path);
    return path;
}

void TestLabelCli::pendingRun()
{
    const QString stored = addImage(QStringLiteral("a1.png"));
    addImage(QStringLiteral("a2.png"));
    addImage(QStringLiteral("a10.png"));
    QVERIFY(saveAnnotations(stored, {catBox(0)}, false, {}));
    const QByteArray storedXml = Fixtures::readBytes(vocXmlPath(stored));

    const CliResult r = runLabel(serverArgs() + QStringList{"--classes", "cat,dog", m_dir}, inEnglish());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count('\n'), 1);
    QCOMPARE(withoutServers(r.out), QByteArray(R"({"done":3,"total":3,"added":2,"failed":0,"cancelled":false,"avgConfidence":0.9,"unusable":0})"));
    QVERIFY2(r.err.contains("3/3 images"), r.err.constData());
    QCOMPARE(r.json().value("servers").toArray(),
             (QJsonArray{QJsonObject{{"url", m_server->baseUrl()}, {"requests", 3}, {"failed", 0}}}));

    // The stored cat repeats the model's; the other two images get a pending cat each.
    const AnnotationCache pending = readPendingFile(m_dir);
    QCOMPARE(pending.size(), 2);
    QCOMPARE(labelsMarkingPending(pending.value(m_images.at(1))), QStringList{"cat*"});
    QCOMPARE(pending.value(m_images.at(1)).first().rect, QRectF(QPointF(20, 20), QPointF(60, 40)));
    QCOMPARE(labelsMarkingPending(pending.value(m_images.at(2))), QStringList{"cat*"});
    QCOMPARE(Fixtures::readBytes(vocXmlPath(stored)), storedXml);
    QCOMPARE(countAnnotations(m_images.at(1)), -1);

    // Requests in listing order, with the served model and the classes of the command line.
    const QList<FakeOpenAiServer::Request> chats = m_server->requestsFor(kChatPath);
    QCOMPARE(chats.size(), 3);
    QCOMPARE(chats.first().json().value("model").toString(), QStringLiteral("served-model"));
    QVERIFY(QString::fromUtf8(chats.first().body).contains(QStringLiteral("cat、dog")));
}

void TestLabelCli::confirmedRun_data()
{
    QTest::addColumn<QStringList>("format");
    QTest::addColumn<bool>("storedYolo");   // the format of the labelled image's file beforehand
    QTest::addColumn<bool>("newYolo");      // the format a new label file gets
    QTest::addColumn<QString>("answer");
    QTest::newRow("VOC by default") << QStringList{} << false << false << kCat;
    // An image's file keeps its format; --format is the format of new files.
    QTest::newRow("YOLO for new files, the VOC file stays VOC")
        << QStringList{"--format", "yolo"} << false << true << kCat;
    // A model that repeats itself: one cat per image, the most confident copy.
    QTest::newRow("YOLO, a model that repeats itself")
        << QStringList{"--format", "yolo"} << false << true
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.5},"
                          "{\"label\":\"cat\",\"bbox_2d\":[104,200,304,400],\"score\":0.9},"
                          "{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.5}]");
    // Without --format an Ultralytics dataset stays YOLO: new files get the folder's format.
    QTest::newRow("Ultralytics dataset without --format stays YOLO") << QStringList{} << true << true << kCat;
}

void TestLabelCli::confirmedRun()
{
    QFETCH(QStringList, format);
    QFETCH(bool, storedYolo);
    QFETCH(bool, newYolo);
    QFETCH(QString, answer);
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(answer));
    const QString withPending = addImage(QStringLiteral("p.png"));
    const QString withLabels = addImage(QStringLiteral("q.png"));
    const Annotation dog = box(QStringLiteral("dog"), QRectF(100, 10, 50, 50));
    const Annotation waiting = box(QStringLiteral("dog"), QRectF(100, 10, 50, 50), 1);
    // images/ beside labels/ and data.yaml: the Ultralytics layout.
    const QString dataYaml = m_tmp->path() + QStringLiteral("/data.yaml");
    const QByteArray yaml("train: images\nnames: [dog, cat]\n");
    if (storedYolo)
        QVERIFY(Fixtures::writeBytes(dataYaml, yaml));
    QVERIFY(saveAnnotations(withLabels, {dog}, storedYolo, {}));
    QVERIFY(writePendingFile(m_dir, {{withPending, {waiting}}}));

    const CliResult r =
        runLabel(serverArgs() + QStringList{"--confirmed", "--model", "mine"} + format + QStringList{m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 2);
    QCOMPARE(r.json().value("avgConfidence").toDouble(), 0.9);

    // Label files hold what was there plus the confirmed result; the pending dog stays pending.
    QCOMPARE(labelsMarkingPending(loadAnnotations(withPending)), QStringList{"cat"});
    QCOMPARE(labelsMarkingPending(loadAnnotations(withLabels)), (QStringList{"dog", "cat"}));
    QCOMPARE(QFileInfo::exists(yoloLabelPath(withLabels)), storedYolo);
    QCOMPARE(QFileInfo::exists(vocXmlPath(withLabels)), !storedYolo);
    QCOMPARE(QFileInfo::exists(yoloLabelPath(withPending)), newYolo);
    QCOMPARE(QFileInfo::exists(vocXmlPath(withPending)), !newYolo);
    if (storedYolo)
        QCOMPARE(Fixtures::readBytes(dataYaml), yaml);
    const AnnotationCache pending = readPendingFile(m_dir);
    QCOMPARE(pending.keys(), QStringList{withPending});
    QCOMPARE(labelsMarkingPending(pending.value(withPending)), QStringList{"dog*"});
    QCOMPARE(m_server->requestsFor(kChatPath).first().json().value("model").toString(), QStringLiteral("mine"));
}

void TestLabelCli::categoryTheDataYamlLacks_data()
{
    QTest::addColumn<bool>("addClasses");
    QTest::newRow("kept pending, counted") << false;
    QTest::newRow("--add-classes appends it to data.yaml") << true;
}

// An Ultralytics dataset whose data.yaml names "dog" only; the model finds a cat.
void TestLabelCli::categoryTheDataYamlLacks()
{
    QFETCH(bool, addClasses);
    const QString image = addImage(QStringLiteral("p.png"));
    const QString dataYaml = m_tmp->path() + QStringLiteral("/data.yaml");
    const QByteArray yaml("train: images  # ours\nnc: 1\nnames:\n  - dog\n");
    QVERIFY(Fixtures::writeBytes(dataYaml, yaml));
    QVERIFY(saveAnnotations(image, {box(QStringLiteral("dog"), QRectF(100, 10, 50, 50))}, true, {}));

    QStringList args = serverArgs() + QStringList{"--confirmed"};
    if (addClasses)
        args.append("--add-classes");
    const CliResult r = runLabel(args + QStringList{m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("unknown_category").toInt(), addClasses ? 0 : 1);
    QCOMPARE(r.json().value("failed").toInt(), 0);
    // One class list: never a classes.txt beside data.yaml.
    QVERIFY(!QFileInfo::exists(m_tmp->path() + QStringLiteral("/labels/classes.txt")));
    if (addClasses) {
        QCOMPARE(Fixtures::readBytes(dataYaml), QByteArray("train: images  # ours\nnc: 2\nnames:\n  - dog\n  - cat\n"));
        QCOMPARE(Fixtures::readBytes(yoloLabelPath(image)).split('\n').value(1).left(2), QByteArray("1 "));
        QVERIFY(readPendingFile(m_dir).isEmpty());
    } else {
        QCOMPARE(Fixtures::readBytes(dataYaml), yaml);
        QCOMPARE(labelsMarkingPending(loadAnnotations(image)), QStringList{"dog"});
        QCOMPARE(labelsMarkingPending(readPendingFile(m_dir).value(image)), QStringList{"cat*"});
    }
}

void TestLabelCli::datasetRootOrNoImages_data()
{
    QTest::addColumn<QString>("folder");   // relative to the temporary root
    QTest::newRow("a folder without images") << "labels";
    QTest::newRow("a dataset root whose splits hold no images") << "empty";
}

void TestLabelCli::datasetRootOrNoImages()
{
    QFETCH(QString, folder);
    addImage(QStringLiteral("p.png"));
    QVERIFY(QDir().mkpath(m_tmp->path() + QStringLiteral("/labels")));
    QVERIFY(QDir().mkpath(m_tmp->path() + QStringLiteral("/empty/images/train")));
    QVERIFY(QDir().mkpath(m_tmp->path() + QStringLiteral("/empty/labels/train")));
    const CliResult r = runLabel(serverArgs() + QStringList{m_tmp->path() + QLatin1Char('/') + folder}, inEnglish());
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("no images in"), r.err.constData());
    QVERIFY(r.out.isEmpty());
    QVERIFY(m_server->requestsFor(kChatPath).isEmpty());
}

void TestLabelCli::datasetRootSplits_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("shards");          // 2: run as shards 1/2 and 2/2, one after the other
    QTest::addColumn<QStringList>("labelled");   // below the root: the images this run asks about
    const QStringList all{"images/train/t1.png", "images/train/t2.png", "images/val/v1.png", "images/val/v2.png"};
    QTest::newRow("pending, each split in its own file") << QStringList{} << 1 << all;
    QTest::newRow("--confirmed into each split's label files")
        << QStringList{"--confirmed", "--format", "yolo"} << 1 << all;
    // t2 has a label file, v2 a pending result of an earlier run.
    QTest::newRow("--unlabelled across splits")
        << QStringList{"--unlabelled"} << 1 << QStringList{"images/train/t1.png", "images/val/v1.png"};
    QTest::newRow("two shards share the root's images") << QStringList{} << 2 << all;
}

// An Ultralytics root: images/train and images/val beside labels/, labelled in one run.
void TestLabelCli::datasetRootSplits()
{
    QFETCH(QStringList, options);
    QFETCH(int, shards);
    QFETCH(QStringList, labelled);
    const QString root = m_tmp->path();
    const QString train = root + QStringLiteral("/images/train");
    const QString val = root + QStringLiteral("/images/val");
    for (const char *name : {"images/train/t1.png", "images/train/t2.png", "images/val/v1.png", "images/val/v2.png"})
        QVERIFY(Fixtures::makeImage(root + QLatin1Char('/') + QLatin1String(name), 200, 100));
    const Annotation dog = box(QStringLiteral("dog"), QRectF(100, 10, 50, 50));
    const QString t2 = train + QStringLiteral("/t2.png");
    const QString v2 = val + QStringLiteral("/v2.png");
    if (options.contains("--unlabelled")) {
        QVERIFY(saveAnnotations(t2, {dog}, true, {QStringLiteral("dog")}));
        QVERIFY(writePendingFile(val, {{v2, {box(QStringLiteral("dog"), QRectF(100, 10, 50, 50), 1)}}}));
    }

    QStringList reported;
    int total = 0;
    for (int k = 1; k <= shards; ++k) {
        QStringList args = serverArgs() + options + QStringList{"--progress", "jsonl"};
        if (shards > 1)
            args += QStringList{"--shard", QStringLiteral("%1/%2").arg(k).arg(shards)};
        const CliResult r = runLabel(args + QStringList{root});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY(!r.lines.isEmpty());
        for (qsizetype i = 0; i + 1 < r.lines.size(); ++i)
            reported.append(QJsonDocument::fromJson(r.lines.at(i).toUtf8()).object().value("path").toString());
        const QJsonObject summary = QJsonDocument::fromJson(r.lines.last().toUtf8()).object();
        QCOMPARE(summary.value("done").toInt(), summary.value("total").toInt());
        QCOMPARE(summary.value("added").toInt(), summary.value("total").toInt());
        total += summary.value("total").toInt();
    }
    // Each image asked about once, named below the root.
    reported.sort();
    QCOMPARE(reported, labelled);
    QCOMPARE(total, labelled.size());
    QCOMPARE(m_server->requestsFor(kChatPath).size(), labelled.size());

    // Each result in its own split: its pending file or its label file, nowhere else.
    const bool confirmed = options.contains("--confirmed");
    const AnnotationCache pendingTrain = readPendingFile(train);
    const AnnotationCache pendingVal = readPendingFile(val);
    for (const QString &name : labelled) {
        const QString image = root + QLatin1Char('/') + name;
        const bool inTrain = name.startsWith("images/train/");
        const AnnotationCache &own = inTrain ? pendingTrain : pendingVal;
        const AnnotationCache &other = inTrain ? pendingVal : pendingTrain;
        QVERIFY2(!other.contains(image), qPrintable(name));
        if (confirmed) {
            QVERIFY(!own.contains(image));
            QCOMPARE(labelsMarkingPending(loadAnnotations(image)), QStringList{"cat"});
            QVERIFY(QFileInfo::exists(yoloLabelPath(image)));
        } else {
            QCOMPARE(labelsMarkingPending(own.value(image)), QStringList{"cat*"});
            QCOMPARE(countAnnotations(image), -1);
        }
    }
    QVERIFY(!QFileInfo::exists(pendingFilePath(root)));
    if (options.contains("--unlabelled")) {
        QCOMPARE(labelsMarkingPending(loadAnnotations(t2)), QStringList{"dog"});
        QCOMPARE(labelsMarkingPending(pendingVal.value(v2)), QStringList{"dog*"});
    }
}

// In a pose dataset the stored keypoints stay as they were and a confirmed result is a box with
// unlabelled keypoints: every row has the length Ultralytics expects there.
void TestLabelCli::confirmedRunKeepsKeypoints()
{
    const QString labelled = addImage(QStringLiteral("p.png"));
    const QString fresh = addImage(QStringLiteral("q.png"));
    const QByteArray yaml("train: images\nnames: [person, cat]\nkpt_shape: [3, 3]\n");
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + QStringLiteral("/data.yaml"), yaml));
    const QByteArray stored = poseRow(0, 3, 3);
    QVERIFY(Fixtures::writeBytes(yoloLabelPath(labelled), stored));

    const CliResult r = runLabel(serverArgs() + QStringList{"--confirmed", m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 2);
    const QByteArray cat = " 0.2 0.3 0.2 0.2 0 0 0 0 0 0 0 0 0\n";
    const QList<QPair<QString, QByteArray>> expected{{labelled, stored + "1" + cat}, {fresh, "1" + cat}};
    for (const auto &[image, rows] : expected) {
        const QList<QByteArray> got = Fixtures::readBytes(yoloLabelPath(image)).trimmed().split('\n');
        const QList<QByteArray> want = rows.trimmed().split('\n');
        QCOMPARE(got.size(), want.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            const QList<QByteArray> g = got[i].split(' ');
            const QList<QByteArray> w = want[i].simplified().split(' ');
            QCOMPARE(g.size(), 1 + 4 + 3 * 3);
            for (qsizetype k = 0; k < g.size(); ++k)
                QVERIFY2(qAbs(g[k].toDouble() - w[k].toDouble()) < 1e-6, got[i].constData());
        }
    }
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + QStringLiteral("/data.yaml")), yaml);
    QVERIFY(!QFileInfo::exists(m_tmp->path() + QStringLiteral("/labels/classes.txt")));
}

void TestLabelCli::unreadableLabelFileKept_data()
{
    QTest::addColumn<QByteArray>("labels");
    QTest::addColumn<QByteArray>("dataYaml");   // beside images/ and labels/; empty: none
    QTest::addColumn<QString>("told");          // on stderr; %Y: the data.yaml
    QTest::addColumn<QString>("answer");        // the model's
    // A label file with a line that does not parse would lose that line if rewritten.
    QTest::newRow("a YOLO line that does not parse") << QByteArray("0 0.5 0.5 0.1 0.1\n0 0.5 oops\n") << QByteArray()
                                                      << "u.png: the label file holds records that cannot be read" << kCat;
    // Class names that cannot be read: labels written with numbers would name other classes.
    QTest::newRow("a data.yaml whose names cannot be parsed")
        << QByteArray("0 0.5 0.5 0.1 0.1\n") << QByteArray("train: images\nnames: [cat, dog\n")
        << "u.png: cannot read the class names file %Y" << kCat;
    // A pose dataset's rows are boxes with keypoints: a polygon has no row there.
    QTest::newRow("a polygon in a pose dataset")
        << poseRow(0, 3, 3) << QByteArray("train: images\nnames: [cat]\nkpt_shape: [3, 3]\n")
        << "u.png: %Y declares keypoints (kpt_shape), so every row is a box with keypoints and cannot hold a "
           "polygon or rotated box; results kept as unconfirmed"
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"polygon\":[[100,200],[300,200],[300,400]],\"score\":0.9}]");
}

void TestLabelCli::unreadableLabelFileKept()
{
    QFETCH(QByteArray, labels);
    QFETCH(QByteArray, dataYaml);
    QFETCH(QString, told);
    QFETCH(QString, answer);
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(answer));
    const QString image = addImage(QStringLiteral("u.png"));
    const QString yaml = m_tmp->path() + QStringLiteral("/data.yaml");
    if (!dataYaml.isEmpty())
        QVERIFY(Fixtures::writeBytes(yaml, dataYaml));
    QVERIFY(Fixtures::writeBytes(yoloLabelPath(image), labels));
    const CliResult r = runLabel(serverArgs() + QStringList{"--confirmed", m_dir}, inEnglish());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json().value("failed").toInt(), 1);
    QVERIFY2(r.err.contains(told.replace(QStringLiteral("%Y"), yaml).toUtf8()), r.err.constData());
    QCOMPARE(Fixtures::readBytes(yoloLabelPath(image)), labels);
    if (!dataYaml.isEmpty())
        QCOMPARE(Fixtures::readBytes(yaml), dataYaml);
    QVERIFY(!QFileInfo::exists(vocXmlPath(image)));
    QCOMPARE(labelsMarkingPending(readPendingFile(m_dir).value(image)), QStringList{"cat*"});
}

void TestLabelCli::resumedUnlabelledRun()
{
    for (int i = 1; i <= 3; ++i)
        addImage(QStringLiteral("r%1.png").arg(i));
    // A background image: checked and found empty, so never unlabelled.
    const QString background = m_dir + QStringLiteral("/r0.png");
    QVERIFY(Fixtures::makeImage(background, 200, 100));
    QVERIFY(saveAnnotations(background, {}, false, {}));
    const QByteArray backgroundXml = Fixtures::readBytes(vocXmlPath(background));
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    m_server->enqueue(FakeOpenAiServer::status(404));
    CliResult r = runLabel(serverArgs() + QStringList{"--confirmed", "--unlabelled", m_dir});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(withoutServers(r.out), QByteArray(R"({"done":3,"total":3,"added":2,"failed":1,"cancelled":false,"avgConfidence":0.9,"unusable":0,"unknown_category":0})"));
    QVERIFY2(r.err.contains("r3.png: "), r.err.constData());
    QCOMPARE(countAnnotations(m_images.at(2)), -1);

    // The second run sends only the image the first one could not label.
    const qsizetype before = m_server->requestsFor(kChatPath).size();
    r = runLabel(serverArgs() + QStringList{"--confirmed", "--unlabelled", m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("total").toInt(), 1);
    QCOMPARE(m_server->requestsFor(kChatPath).size(), before + 1);
    for (const QString &image : std::as_const(m_images))
        QCOMPARE(countAnnotations(image), 1);

    // Nothing left to do: no request at all, exit 0.
    const qsizetype all = m_server->requests().size();
    r = runLabel(serverArgs() + QStringList{"--unlabelled", m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("total").toInt(), 0);
    QCOMPARE(m_server->requests().size(), all);
    QCOMPARE(Fixtures::readBytes(vocXmlPath(background)), backgroundXml);
}

void TestLabelCli::secondPendingRunAddsNothing()
{
    addImage(QStringLiteral("s1.png"));
    addImage(QStringLiteral("s2.png"));
    CliResult r = runLabel(serverArgs() << m_dir);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 2);
    const QByteArray first = Fixtures::readBytes(pendingFilePath(m_dir));

    // The model now sees the cat slightly shifted, and a new dog in one of the images.
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(
        QStringLiteral("[{\"label\":\"CAT\",\"bbox_2d\":[102,200,302,400],\"score\":0.8}]")));
    m_server->enqueue(FakeOpenAiServer::chat(QStringLiteral(
        "[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9},"
        "{\"label\":\"dog\",\"bbox_2d\":[500,500,900,900],\"score\":0.7}]")));
    r = runLabel(serverArgs() << m_dir);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(withoutServers(r.out), QByteArray(R"({"done":2,"total":2,"added":1,"failed":0,"cancelled":false,"avgConfidence":0.7,"unusable":0})"));
    const AnnotationCache pending = readPendingFile(m_dir);
    QCOMPARE(labelsMarkingPending(pending.value(m_images.at(0))), (QStringList{"cat*", "dog*"}));
    QCOMPARE(labelsMarkingPending(pending.value(m_images.at(1))), QStringList{"cat*"});

    // A third run that finds only repeats leaves the file as it is.
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    const QByteArray second = Fixtures::readBytes(pendingFilePath(m_dir));
    QVERIFY(second != first);
    r = runLabel(serverArgs() << m_dir);
    QCOMPARE(r.json().value("added").toInt(), 0);
    QCOMPARE(Fixtures::readBytes(pendingFilePath(m_dir)), second);
}

void TestLabelCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    const QString url = QStringLiteral("http://127.0.0.1:9/v1");
    QTest::newRow("nothing") << QStringList{} << 2;
    QTest::newRow("no server") << QStringList{"DIR"} << 2;
    QTest::newRow("server without value") << QStringList{"DIR", "--server"} << 2;
    QTest::newRow("server not http") << QStringList{"--server", "ftp://x/v1", "DIR"} << 2;
    QTest::newRow("no directory") << QStringList{"--server", url} << 2;
    QTest::newRow("two directories") << QStringList{"--server", url, "DIR", "DIR"} << 2;
    QTest::newRow("concurrency 0") << QStringList{"--server", url, "--concurrency", "0", "DIR"} << 2;
    QTest::newRow("concurrency 65") << QStringList{"--server", url, "--concurrency=65", "DIR"} << 2;
    QTest::newRow("concurrency not a number") << QStringList{"--server", url, "--concurrency", "many", "DIR"} << 2;
    QTest::newRow("timeout 0") << QStringList{"--server", url, "--timeout", "0", "DIR"} << 2;
    QTest::newRow("min-score above 1") << QStringList{"--server", url, "--min-score", "1.5", "DIR"} << 2;
    QTest::newRow("min-score nan") << QStringList{"--server", url, "--min-score", "nan", "DIR"} << 2;
    QTest::newRow("format xml") << QStringList{"--server", url, "--format", "xml", "DIR"} << 2;
    QTest::newRow("model empty") << QStringList{"--server", url, "--model", "", "DIR"} << 2;
    QTest::newRow("flag with a value") << QStringList{"--server", url, "--confirmed=yes", "DIR"} << 2;
    QTest::newRow("unknown option") << QStringList{"--server", url, "--fast", "DIR"} << 2;
    QTest::newRow("missing directory") << QStringList{"--server", url, "--concurrency", "64", "nope"} << 1;
}

void TestLabelCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    addImage(QStringLiteral("u.png"));
    args.replaceInStrings(QStringLiteral("DIR"), m_dir);
    const CliResult r = runLabel(args, inEnglish());
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.contains("usage: brindlemark-cli label --server URL"), exitCode == 2);
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(!QFileInfo::exists(pendingFilePath(m_dir)));
}

void TestLabelCli::unreachableServer()
{
    addImage(QStringLiteral("x.png"));
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }   // closed: connections to it are refused
    const CliResult r = runLabel({"--server", QStringLiteral("http://127.0.0.1:%1/v1").arg(port), m_dir});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains(QStringLiteral("无法连接服务器 http://127.0.0.1:").toUtf8()), r.err.constData());
    QVERIFY(!QFileInfo::exists(pendingFilePath(m_dir)));
}

void TestLabelCli::interrupted_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestLabelCli::interrupted()
{
    QFETCH(int, signalNumber);
    for (int i = 1; i <= 6; ++i)
        addImage(QStringLiteral("i%1.png").arg(i));
    // Two answers a second apart, then a server that keeps the rest waiting.
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    m_server->enqueue(FakeOpenAiServer::chat(kCat, 1000));
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());

    QProcess process;
    startCli(process, QStringList{"label"} + serverArgs() + QStringList{"--concurrency", "2", m_dir});
    // Written during the run: the first result at once, the second within a few seconds.
    QTRY_COMPARE_WITH_TIMEOUT(readPendingFile(m_dir).size(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(readPendingFile(m_dir).size(), 2, 20000);
    QCOMPARE(process.state(), QProcess::Running);
    QTRY_COMPARE(m_server->openRequests(), 2);

    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    const CliResult r = finishCli(process);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(withoutServers(r.out), QByteArray(R"({"done":2,"total":6,"added":2,"failed":0,"cancelled":true,"avgConfidence":0.9,"unusable":0})"));
    const AnnotationCache pending = readPendingFile(m_dir);
    QCOMPARE(pending.size(), 2);
    QVERIFY(pending.contains(m_images.at(0)) && pending.contains(m_images.at(1)));
    QCOMPARE(m_server->requestsFor(kChatPath).size(), 4);
}

void TestLabelCli::concurrencyAtTheServer()
{
    for (int i = 0; i < 14; ++i)
        addImage(QStringLiteral("c%1.png").arg(i));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 1500));
    const CliResult r = runLabel(serverArgs() + QStringList{"--concurrency", "12", m_dir});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("done").toInt(), 14);
    QVERIFY2(m_server->maxOpenRequests() >= 10, qPrintable(QString::number(m_server->maxOpenRequests())));
    QVERIFY(m_server->maxOpenRequests() <= 12);
}

void TestLabelCli::hugeImagesWithinMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves terabytes of address space: no address-space limit can apply");
#endif
    // A 157 KB scan of 30000 x 30000 one-bit pixels is sent scaled; a header that claims more than
    // the memory budget is refused unread.
    const QString scan = m_dir + QStringLiteral("/scan.png");
    const QString claimed = m_dir + QStringLiteral("/claimed.png");
    QVERIFY(Fixtures::makeOneBitPng(scan, 30000, 30000));
    QVERIFY(Fixtures::makeClaimedPng(claimed, 20000, 20000));
    QProcess process;
    // 2 GiB of address space: a 32-bit copy of the scan at full size (3.6 GB) cannot be had.
    process.setChildProcessModifier([] {
        const rlimit limit{rlim_t(2) << 30, rlim_t(2) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
    });
    startCli(process, QStringList{"label"} + serverArgs() + QStringList{m_dir});
    const CliResult r = finishCli(process, 120000);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json().value("added").toInt(), 1);
    QCOMPARE(r.json().value("failed").toInt(), 1);
    QVERIFY2(r.err.contains((claimed + QStringLiteral(": ") + translateText("图片过大")).toUtf8()), r.err.constData());
    const QList<FakeOpenAiServer::Request> chats = m_server->requestsFor(kChatPath);
    QCOMPARE(chats.size(), 1);
    QVERIFY(chats.first().body.size() > 1000);
    QCOMPARE(labelsMarkingPending(readPendingFile(m_dir).value(scan)), QStringList{"cat*"});
}

void TestLabelCli::serverAnswers_data()
{
    // Every chat request gets the answer; the run must end with the exit code and the reason.
    QTest::addColumn<FakeOpenAiServer::Answer>("answer");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");   // on standard error; empty: none
    QTest::addColumn<int>("unusable");     // detections left out for a blank label
    using A = FakeOpenAiServer;
    QTest::newRow("HTML page") << A::status(200, "<html><body>502 Bad Gateway</body></html>") << QStringList{} << 1
                               << translateText("回答不是 JSON") << 0;
    QTest::newRow("error object") << A::status(200, R"({"error":{"message":"model not loaded"}})") << QStringList{}
                                  << 1 << translateText("服务器返回错误：%1").arg(QStringLiteral("model not loaded")) << 0;
    QTest::newRow("completion cut off") << A::status(200, A::chat(kCat).body.left(60)) << QStringList{} << 1
                                        << translateText("回答不是 JSON") << 0;
    QTest::newRow("completion without objects") << A::chat(QStringLiteral("[]")) << QStringList{} << 0 << QString() << 0;
    // Detections without a category cannot be stored; the summary counts them.
    QTest::newRow("blank labels counted as unusable")
        << A::chat(QStringLiteral(R"([{"label":"","bbox_2d":[100,200,300,400],"score":0.9},)"
                                  R"({"label":"  ","bbox_2d":[10,20,300,400]},{"bbox_2d":[1,2,300,400]}])"))
        << QStringList{} << 0 << QString() << 3;
    QTest::newRow("endless body") << A::endless() << QStringList{} << 1 << translateText("回答超过 %1 MiB").arg(32) << 0;
    QTest::newRow("trickling server, twice") << A::trickle(1000) << QStringList{"--timeout", "5"} << 1
                                             << translateText("请求在 %1 秒内未完成").arg(20) << 0;
}

void TestLabelCli::serverAnswers()
{
    QFETCH(FakeOpenAiServer::Answer, answer);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QFETCH(int, unusable);
    const QString image = addImage(QStringLiteral("a.png"));
    m_server->setDefaultAnswer(answer);
    QProcess process;
    startCli(process, QStringList{"label"} + serverArgs() + options + QStringList{m_dir});
    const CliResult r = finishCli(process, 150000);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.json().value("failed").toInt(), exitCode);
    QCOMPARE(r.json().value("done").toInt(), 1);
    QCOMPARE(r.json().value("unusable").toInt(-1), unusable);
    if (!reason.isEmpty())
        QVERIFY2(r.err.contains((image + QStringLiteral(": ") + reason).toUtf8()), r.err.constData());
    QVERIFY(readPendingFile(m_dir).isEmpty());
}

void TestLabelCli::linksLeavingTheDataset_data()
{
    // link: relative to the image folder; options of the run.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("named");   // what standard error names
    QTest::newRow("pending file to a file outside") << ".brindle_pending.json" << QStringList{}
                                                    << QByteArray(".brindle_pending.json");
    QTest::newRow("class list to a file outside") << "../labels/classes.txt"
                                                  << QStringList{"--confirmed", "--format", "yolo"}
                                                  << QByteArray("l.png: cannot write the label file");
    QTest::newRow("voc file dangling") << "annotations/l.xml" << QStringList{"--confirmed"}
                                       << QByteArray("l.png: cannot write the label file");
}

void TestLabelCli::linksLeavingTheDataset()
{
    QFETCH(QString, link);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, named);
    addImage(QStringLiteral("l.png"));
    // The images folder is <tmp>/images, so the dataset is <tmp>: the home lies elsewhere.
    QTemporaryDir home;
    const QString outside = home.path() + QStringLiteral("/.bashrc");
    QVERIFY(Fixtures::writeBytes(outside, "export PATH\n"));
    const QString linkPath = m_dir + QLatin1Char('/') + link;
    QVERIFY(QDir().mkpath(QFileInfo(linkPath).absolutePath()));
    QVERIFY(QFile::link(link.endsWith(QLatin1String(".xml")) ? outside + QStringLiteral(".new") : outside, linkPath));

    const CliResult r = runLabel(serverArgs() + options + QStringList{m_dir}, inEnglish());
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(named), r.err.constData());
    QCOMPARE(Fixtures::readBytes(outside), QByteArray("export PATH\n"));
    QVERIFY(!QFileInfo::exists(outside + QStringLiteral(".new")));
    QVERIFY(QFileInfo(linkPath).isSymLink());
}

void TestLabelCli::windowHoldsTheFolder_data()
{
    QTest::addColumn<bool>("duringRun");
    QTest::addColumn<bool>("killed");   // the window dies after its pending write, before the save
    QTest::newRow("the window confirms after the run") << false << false;
    QTest::newRow("the window confirms during the run") << true << false;
    QTest::newRow("the window is killed between its pending write and the save") << false << true;
}

// A window (its folder session) holds the folder while label writes results into it; the user
// confirms one result on screen. Everything the run added survives, and the confirmed result is
// not brought back as pending.
void TestLabelCli::windowHoldsTheFolder()
{
    QFETCH(bool, duringRun);
    QFETCH(bool, killed);
    for (int i = 1; i <= 6; ++i)
        addImage(QStringLiteral("w%1.png").arg(i));
    const QString shown = m_images.last();
    const Annotation waitingCat = box(QStringLiteral("cat"), 20, 20, 60, 40, 1, 0.9);
    const Annotation waitingDog = box(QStringLiteral("dog"), 100, 10, 150, 60, 1, 0.8);
    QVERIFY(writePendingFile(m_dir, {{shown, {waitingCat, waitingDog}}}));

    FolderSession window;
    LiveStub live;
    window.setLiveAnnotations(&live);
    window.openNow(m_dir);
    live.list = window.enterImage(shown);
    QCOMPARE(live.pendingCount(), 2);

    // The first answer at once, the others slowly: the window acts while the run goes on.
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, duringRun ? 400 : 0));
    QProcess process;
    startCli(process, QStringList{"label"} + serverArgs() + QStringList{m_dir});
    CliResult r;
    if (duringRun) {
        QTRY_VERIFY_WITH_TIMEOUT(readPendingFile(m_dir).contains(m_images.first()), 20000);
        QCOMPARE(process.state(), QProcess::Running);
    } else {
        r = finishCli(process);
    }
    live.list[1].pending = 0;   // the dog confirmed
    if (killed) {
        // The window takes in what the run wrote and writes the file; then it is gone. The
        // confirmed dog is still a result: nothing holds it otherwise.
        QVERIFY(window.flushPending());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(describePending(m_dir, readPendingFile(m_dir)),
                 QStringLiteral("w1.png: cat; w2.png: cat; w3.png: cat; w4.png: cat; w5.png: cat; w6.png: cat dog"));
        QCOMPARE(labelFormatOf(shown), LabelFormat::None);
        return;
    }
    QVERIFY(window.saveImage(shown, live.list));
    if (duringRun) {
        QCOMPARE(process.state(), QProcess::Running);
        r = finishCli(process);
    }
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 5);   // the shown image's cat repeats the waiting one

    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)),
             QStringLiteral("w1.png: cat; w2.png: cat; w3.png: cat; w4.png: cat; w5.png: cat; w6.png: cat"));
    QCOMPARE(labelsMarkingPending(loadAnnotations(shown)), QStringList{"dog"});
    // The window counts the run's results once it has written.
    if (!duringRun) {
        for (const QString &image : m_images.mid(0, 5))
            QCOMPARE(window.imageState(image).pending, 1);
    }
    window.leaveImage();
    QVERIFY(window.close());
    QCOMPARE(readPendingFile(m_dir).size(), 6);
}

void TestLabelCli::movedFolderKeepsResults_data()
{
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("folder renamed after the run") << false;
    QTest::newRow("run through a link, then on the folder itself") << true;
}

void TestLabelCli::movedFolderKeepsResults()
{
    QFETCH(bool, throughLink);
    for (int i = 1; i <= 3; ++i)
        addImage(QStringLiteral("m%1.png").arg(i));
    const QString other = m_tmp->path() + QStringLiteral("/other");
    QString first = m_dir;
    QString second = other;
    if (throughLink) {
        QVERIFY(QFile::link(m_dir, other));
        first = other;
        second = m_dir;
    }
    CliResult r = runLabel(serverArgs() << first);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 3);
    if (!throughLink)
        QVERIFY(QDir().rename(m_dir, other));

    // The results are the images' where the folder is now.
    r = runCli({QStringLiteral("pending"), second});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), 3);
    QCOMPARE(QJsonDocument::fromJson(r.lines.first().toUtf8()).object().value("image").toString(),
             second + QStringLiteral("/m1.png"));
    // A second run there finds them: only repeats, nothing added, nothing lost.
    r = runLabel(serverArgs() << second);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("added").toInt(), 0);
    QCOMPARE(describePending(second, readPendingFile(second)), QStringLiteral("m1.png: cat; m2.png: cat; m3.png: cat"));
}

void TestLabelCli::staleLockTakenOver()
{
    addImage(QStringLiteral("k1.png"));
    addImage(QStringLiteral("k2.png"));
    QVERIFY(Fixtures::writeStaleLock(pendingLockPath(m_dir)));
    const CliResult r = runLabel(serverArgs() << m_dir);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readPendingFile(m_dir).size(), 2);
    QVERIFY(!QFileInfo::exists(pendingLockPath(m_dir)));
}

BRINDLE_TEST_MAIN(TestLabelCli)
#include "tst_labelcli.moc"
