#include "checker/checkerfixtures.h"
#include "support/clirunner.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

// Runs the built brindlemark-cli check. "%D" in arguments and expected lines stands for the
// dataset's image directory, "%C" for a clean one, "%P" for one without labels, "%S" for the server.
class TestCheckCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void rules_data();
    void rules();
    void findingsInTheLocaleLanguage_data();
    void findingsInTheLocaleLanguage();
    void withServer_data();
    void withServer();
    void serverNotAnswering_data();
    void serverNotAnswering();
    void thousandsOfCopiesOfOneBox();

private:
    // "check" with the placeholders of the arguments filled in.
    CliResult runCheck(const QStringList &args) const;
    QString expand(QString text) const;

    QTemporaryDir m_tmp;
    QString m_serverUrl;
};

void TestCheckCli::initTestCase()
{
    const QString ds = m_tmp.path() + "/ds";
    QVERIFY(Fixtures::writeBytes(ds + "/labels/classes.txt", "car\nbus\n"));
    for (const char *name : {"a", "b", "c", "d"})
        QVERIFY(Fixtures::makeImage(ds + "/images/" + name + ".png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/a.txt", "0 0.25 0.25 0.3 0.3\n"));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/b.txt", "1 0.5 0.5 0.0015 0.2\n"));
    QVERIFY(Fixtures::writeBytes(ds + "/images/annotations/c.xml", Fixtures::vocXml({{"truck", 10, 10, 200, 200}})));

    const QString clean = m_tmp.path() + "/clean";
    QVERIFY(Fixtures::makeImage(clean + "/x.png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(clean + "/labels/classes.txt", "car\n"));
    QVERIFY(Fixtures::writeBytes(clean + "/labels/x.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::makeImage(m_tmp.path() + "/plain/p.png", 100, 100));
    // Another tool's class list: the dataset's YAML file.
    const QString yaml = m_tmp.path() + "/yaml";
    QVERIFY(Fixtures::writeBytes(yaml + "/data.yaml", "names: [car, bus]\n"));
    QVERIFY(Fixtures::makeImage(yaml + "/images/t.png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(yaml + "/images/annotations/t.xml", Fixtures::vocXml({{"truck", 10, 10, 200, 200}})));

    // An Ultralytics root: images/train, images/val; a class index past its data.yaml.
    const QString root = m_tmp.path() + "/root";
    QVERIFY(Fixtures::writeBytes(root + "/data.yaml", "names: [car]\n"));
    QVERIFY(Fixtures::makeImage(root + "/images/train/u.png", 1000, 1000));
    QVERIFY(Fixtures::makeImage(root + "/images/val/w.png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(root + "/labels/train/u.txt", "3 0.5 0.5 0.2 0.2\n"));
    QVERIFY(Fixtures::writeBytes(root + "/labels/val/w.txt", "0 0.5 0.5 0.2 0.2\n"));

    // Label files the checker cannot read to their end, one per image.
    const QString bad = m_tmp.path() + "/unreadable";
    for (const char *name : {"a", "b", "c", "d"})
        QVERIFY(Fixtures::makeImage(bad + "/" + name + ".png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(bad + "/annotations/a.xml", Fixtures::vocEntityBomb()));
    QVERIFY(Fixtures::writeBytes(bad + "/annotations/b.xml",
                                 Fixtures::vocXml({{"car", 10, 10, 60, 60}}).replace("</annotation>", "<object><name>")));
    QVERIFY(Fixtures::writeBytes(bad + "/labels/c.txt", "0 0.5 0.5 0.5 0.5\nnot a label line\n"));
    QVERIFY(Fixtures::writeBytes(bad + "/labels/d.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(Fixtures::growFile(bad + "/labels/d.txt", 64 * 1024 * 1024 + 1));
    QDir().mkpath(m_tmp.path() + "/empty");

    // Background images: checked and found empty, an empty YOLO file and a VOC file without objects.
    const QString background = m_tmp.path() + "/background";
    QVERIFY(Fixtures::makeImage(background + "/e.png", 100, 100));
    QVERIFY(Fixtures::makeImage(background + "/v.png", 100, 100));
    QVERIFY(Fixtures::writeBytes(background + "/labels/classes.txt", "car\n"));
    QVERIFY(Fixtures::writeBytes(background + "/labels/e.txt", ""));
    QVERIFY(Fixtures::writeBytes(background + "/annotations/v.xml",
                                 "<annotation><size><width>100</width><height>100</height></size></annotation>"));
}

QString TestCheckCli::expand(QString text) const
{
    return text.replace("%D", m_tmp.path() + "/ds/images")
        .replace("%C", m_tmp.path() + "/clean")
        .replace("%P", m_tmp.path() + "/plain")
        .replace("%E", m_tmp.path() + "/empty")
        .replace("%U", m_tmp.path() + "/unreadable")
        .replace("%B", m_tmp.path() + "/background")
        .replace("%Y", m_tmp.path() + "/yaml/images")
        .replace("%R", m_tmp.path() + "/root")
        .replace("%S", m_serverUrl);
}

CliResult TestCheckCli::runCheck(const QStringList &args) const
{
    QStringList expanded{QStringLiteral("check")};
    for (const QString &arg : args)
        expanded << expand(arg);
    return runCli(expanded);
}

void TestCheckCli::rules_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QByteArray>("err");   // a piece of standard error

    const QString tiny = R"j({"detail":"第1个「bus」尺寸 2x200","image":"%D/b.png","kind":"tiny_box","problem":"过小框"})j";
    const QString unknown = R"j({"detail":"第1个「truck」不在类别表中","image":"%D/c.png","kind":"unknown_category","problem":"未知类别"})j";
    QTest::newRow("categories from classes.txt")
        << QStringList{"%D"} << 1 << QStringList{tiny, unknown, R"j({"checked":4,"issueImages":2,"issues":2})j"}
        << QByteArray();
    QTest::newRow("categories from data.yaml, as the window reads them")
        << QStringList{"%Y"} << 1
        << QStringList{QString(unknown).replace("%D/c.png", "%Y/t.png"), R"j({"checked":1,"issueImages":1,"issues":1})j"}
        << QByteArray();
    QTest::newRow("--classes replaces classes.txt")
        << QStringList{"--classes", "car,bus,truck", "%D"} << 1
        << QStringList{tiny, R"j({"checked":4,"issueImages":1,"issues":1})j"} << QByteArray();
    QTest::newRow("--classes=, spaces trimmed") << QStringList{"%D", "--classes= car , bus,truck"} << 1
                                                << QStringList{tiny, R"j({"checked":4,"issueImages":1,"issues":1})j"}
                                                << QByteArray();
    QTest::newRow("empty --classes: no category check")
        << QStringList{"--classes", "", "%D"} << 1 << QStringList{tiny, R"j({"checked":4,"issueImages":1,"issues":1})j"}
        << QByteArray();
    QTest::newRow("clean dataset") << QStringList{"%C"} << 0
                                   << QStringList{R"j({"checked":1,"issueImages":0,"issues":0})j"} << QByteArray();
    const QString unreadable =
        R"j({"detail":"%U/%1 未能完整读取：%2","image":"%U/%3.png","kind":"unreadable_label","problem":"无法读取标注"})j";
    QTest::newRow("label files it cannot read")
        << QStringList{"%U"} << 1
        << QStringList{unreadable.arg("annotations/a.xml", "第12行 XML 格式错误", "a"),
                       unreadable.arg("annotations/b.xml", "第5行 XML 格式错误", "b"),
                       unreadable.arg("labels/c.txt", "第2行不是 YOLO 标注行", "c"),
                       unreadable.arg("labels/d.txt", "文件超过 64 MB 的读取上限", "d"),
                       R"j({"checked":4,"issueImages":4,"issues":4})j"}
        << QByteArray();
    QTest::newRow("background images: nothing to report")
        << QStringList{"%B"} << 0 << QStringList{R"j({"checked":2,"issueImages":0,"issues":0})j"} << QByteArray();
    // A folder it never read must not pass.
    QTest::newRow("no images") << QStringList{"%E"} << 2 << QStringList() << QStringLiteral("中没有图片").toUtf8();
    QTest::newRow("a dataset root is checked through its image folders")
        << QStringList{"%R"} << 1
        << QStringList{R"j({"detail":"第1个「3」不在类别表中","image":"%R/images/train/u.png","kind":"unknown_category","problem":"未知类别"})j",
                       R"j({"checked":2,"issueImages":1,"issues":1})j"}
        << QByteArray();
    QTest::newRow("DIR does not exist")
        << QStringList{"%E/nothing"} << 1 << QStringList() << QByteArray("不是目录");

    const QByteArray usage = QStringLiteral("用法：brindlemark-cli check").toUtf8();
    QTest::newRow("no DIR") << QStringList() << 2 << QStringList() << usage;
    QTest::newRow("option without value") << QStringList{"%D", "--classes"} << 2 << QStringList() << usage;
    QTest::newRow("DIR taken as the value") << QStringList{"--classes", "%D"} << 2 << QStringList() << usage;
    QTest::newRow("unknown option") << QStringList{"--fix", "%D"} << 2 << QStringList() << usage;
    QTest::newRow("two directories") << QStringList{"%D", "%C"} << 2 << QStringList() << usage;
    QTest::newRow("--model without --server") << QStringList{"--model", "m", "%D"} << 2 << QStringList() << usage;
    QTest::newRow("concurrency 0")
        << QStringList{"--server", "http://127.0.0.1:1/v1", "--concurrency", "0", "%D"} << 2 << QStringList() << usage;
    QTest::newRow("timeout not a number")
        << QStringList{"--server", "http://127.0.0.1:1/v1", "--timeout", "soon", "%D"} << 2 << QStringList() << usage;
    QTest::newRow("server not http") << QStringList{"--server", "ftp://127.0.0.1/v1", "%D"} << 2 << QStringList()
                                     << usage;
}

void TestCheckCli::rules()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QByteArray, err);
    const CliResult result = runCheck(args);
    QCOMPARE(result.exitCode, exitCode);
    QStringList expected;
    for (const QString &line : out)
        expected << expand(line);
    QCOMPARE(result.lines, expected);
    QVERIFY2(result.err.contains(err), result.err.constData());
}

// problem and detail follow LANG; kind stays the key scripts read.
void TestCheckCli::findingsInTheLocaleLanguage_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("detail");
    QTest::newRow("English") << QByteArray("en_US.UTF-8") << "Unknown category" << "#1 “truck” is not in the category list";
    QTest::newRow("unset: English") << QByteArray() << "Unknown category" << "#1 “truck” is not in the category list";
    QTest::newRow("C locale: English") << QByteArray("C.UTF-8") << "Unknown category"
                                       << "#1 “truck” is not in the category list";
    QTest::newRow("German") << QByteArray("de_DE.UTF-8") << "Unbekannte Kategorie"
                            << "Nr. 1 „truck“ steht nicht in der Kategorienliste";
    QTest::newRow("Japanese") << QByteArray("ja_JP.UTF-8") << "不明なカテゴリ" << "1 番目の「truck」はカテゴリ一覧にありません";
    QTest::newRow("Chinese") << QByteArray("zh_CN.UTF-8") << "未知类别" << "第1个「truck」不在类别表中";
}

void TestCheckCli::findingsInTheLocaleLanguage()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, problem);
    QFETCH(QString, detail);
    CliOptions options;
    options.locale = locale;
    const CliResult result = runCli({"check", "--classes", "car,bus", expand("%Y")}, options);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.lines.size(), 2);
    const QJsonObject finding = QJsonDocument::fromJson(result.lines.first().toUtf8()).object();
    QCOMPARE(finding.value("kind").toString(), QStringLiteral("unknown_category"));
    QCOMPARE(finding.value("problem").toString(), problem);
    QCOMPARE(finding.value("detail").toString(), detail);
}

void TestCheckCli::withServer_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("answers");   // after the probe
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<int>("failedRequests");   // in the summary's "servers"

    using S = FakeOpenAiServer;
    QTest::newRow("findings of both halves, rules first")
        << "%D"
        << QList<S::Answer>{S::chat(R"([{"label":"bus","bbox_2d":[100,100,400,400],"score":0.9},)"
                                    R"({"label":"car","bbox_2d":[700,700,900,900],"score":0.8}])"),
                            S::status(404, "{}"),
                            S::chat(R"([{"label":"car","bbox_2d":[10,10,200,100],"score":0.7}])")}
        << 1
        << QStringList{
               R"j({"detail":"第1个「bus」尺寸 2x200","image":"%D/b.png","kind":"tiny_box","problem":"过小框"})j",
               R"j({"detail":"第1个「truck」不在类别表中","image":"%D/c.png","kind":"unknown_category","problem":"未知类别"})j",
               R"j({"detail":"第1个标注为「car」,模型识别为「bus」(IoU=1.00)","image":"%D/a.png","kind":"model_mislabel","problem":"类别不符"})j",
               R"j({"detail":"模型发现目标「car」(700,700)-(900,900) (置信度 0.80) 但标注中没有对应框","image":"%D/a.png","kind":"model_unlabelled","problem":"疑似漏标"})j",
               "FAILED %D/b.png",
               R"j({"detail":"第1个「truck」与模型框 IoU=0.47,建议核对位置","image":"%D/c.png","kind":"model_offset","problem":"位置偏差"})j",
               R"j({"checked":4,"issueImages":3,"issues":6,"reviewed":3})j"}
        << 1;
    QTest::newRow("model agrees") << "%C" << QList<S::Answer>{S::chat(R"([{"label":"car","bbox_2d":[250,250,750,750]}])")}
                                  << 0 << QStringList{R"j({"checked":1,"issueImages":0,"issues":0,"reviewed":1})j"} << 0;
    QTest::newRow("model sees nothing, after one retry")
        << "%C" << QList<S::Answer>{S::chat(""), S::chat("")} << 1
        << QStringList{
               R"j({"detail":"第1个「car」(250,250)-(750,750) 在模型结果中无对应目标(可能漏标或难例,请人工复核)","image":"%C/x.png","kind":"model_missed","problem":"模型未检出"})j",
               R"j({"checked":1,"issueImages":1,"issues":1,"reviewed":1})j"}
        << 0;
    QTest::newRow("nothing labelled: the probe only")
        << "%P" << QList<S::Answer>() << 0 << QStringList{R"j({"checked":1,"issueImages":0,"issues":0,"reviewed":0})j"} << 0;
    // A background image is not sent: the model's view of it would read as unlabelled objects.
    QTest::newRow("background images: the probe only")
        << "%B" << QList<S::Answer>() << 0 << QStringList{R"j({"checked":2,"issueImages":0,"issues":0,"reviewed":0})j"} << 0;
}

void TestCheckCli::withServer()
{
    QFETCH(QString, dir);
    QFETCH(QList<FakeOpenAiServer::Answer>, answers);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(int, failedRequests);

    FakeOpenAiServer server;
    QVERIFY(server.listen());
    m_serverUrl = server.baseUrl();
    server.enqueue(FakeOpenAiServer::status(200, R"j({"object":"list","data":[{"id":"served"}]})j"));
    for (const FakeOpenAiServer::Answer &answer : answers)
        server.enqueue(answer);
    server.setDefaultAnswer(FakeOpenAiServer::status(500, "{}"));

    const CliResult result = runCheck({"--server", "%S/", "--model", "reviewer", "--timeout", "20", dir});
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.lines.size(), out.size());
    for (int i = 0; i < out.size(); ++i) {
        const QString expected = expand(out.at(i));
        if (i == out.size() - 1) {
            // The summary ends with what the server was asked: "servers" after the fields above.
            QCOMPARE(result.lines.at(i),
                     expected.chopped(1)
                         + QStringLiteral(R"j(,"servers":[{"failed":%1,"requests":%2,"url":"%3"}]})j")
                               .arg(failedRequests)
                               .arg(server.requestsFor("/v1/chat/completions").size())
                               .arg(m_serverUrl));
        } else if (expected.startsWith("FAILED ")) {
            const QJsonObject line = QJsonDocument::fromJson(result.lines.at(i).toUtf8()).object();
            QCOMPARE(line.value("image").toString(), expected.mid(7));
            QCOMPARE(line.value("kind").toString(), QStringLiteral("inference_failed"));
            QCOMPARE(line.value("problem").toString(), QStringLiteral("推理失败"));
            QVERIFY2(line.value("detail").toString().startsWith(QStringLiteral("推理失败 (HTTP 404): ")),
                     qPrintable(result.lines.at(i)));
        } else {
            QCOMPARE(result.lines.at(i), expected);
        }
    }

    // One probe, then review-mode requests: no category enumeration, the chosen model.
    QCOMPARE(server.requests().size(), answers.size() + 1);
    QCOMPARE(server.requests().first().path, QByteArray("/v1/models"));
    for (qsizetype i = 1; i < server.requests().size(); ++i) {
        const QJsonObject body = server.requests().at(i).json();
        QCOMPARE(server.requests().at(i).path, QByteArray("/v1/chat/completions"));
        QCOMPARE(body.value("model").toString(), QStringLiteral("reviewer"));
        const QJsonObject label = body["response_format"]["json_schema"]["schema"]["items"]["properties"]["label"]
                                      .toObject();
        QCOMPARE(label.value("type").toString(), QStringLiteral("string"));
        QVERIFY(!label.contains("enum"));
    }
}

void TestCheckCli::serverNotAnswering_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("connection refused") << false;
    QTest::newRow("HTTP 404 on /models") << true;
}

void TestCheckCli::serverNotAnswering()
{
    QFETCH(bool, listening);
    FakeOpenAiServer server;
    QVERIFY(server.listen());
    server.setDefaultAnswer(FakeOpenAiServer::status(404, "{}"));
    m_serverUrl = server.baseUrl();
    if (!listening) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        m_serverUrl = QStringLiteral("http://127.0.0.1:%1/v1").arg(closed.serverPort());
    }
    const CliResult result = runCheck({"--server", "%S", "%D"});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.lines, QStringList());
    QVERIFY2(result.err.contains(QStringLiteral("没有推理服务应答").toUtf8()), result.err.constData());
    QCOMPARE(server.requests().size(), listening ? 1 : 0);
}

void TestCheckCli::thousandsOfCopiesOfOneBox()
{
    // 4,000 copies of one box in a 72 KB file: one finding per copy, naming the first.
    const QString dir = m_tmp.path() + "/copies";
    QVERIFY(Fixtures::makeImage(dir + "/x.png", 100, 100));
    QByteArray lines;
    for (int i = 0; i < 4000; ++i)
        lines += "0 0.5 0.5 0.5 0.5\n";
    QVERIFY(Fixtures::writeBytes(dir + "/labels/x.txt", lines));
    QVERIFY(Fixtures::writeBytes(dir + "/labels/classes.txt", "car\n"));
    const CliResult r = runCheck({dir});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.lines.size(), 4000);
    QCOMPARE(r.lines.last(), QStringLiteral(R"j({"checked":1,"issueImages":1,"issues":3999})j"));
    QCOMPARE(r.lines.first(),
             QStringLiteral(R"j({"detail":"第2个与第1个「car」几乎完全重叠(IoU>0.95)","image":"%1/x.png","kind":"duplicate","problem":"重复框"})j")
                 .arg(dir));
    QCOMPARE(r.lines.at(3998),
             QStringLiteral(R"j({"detail":"第4000个与第1个「car」几乎完全重叠(IoU>0.95)","image":"%1/x.png","kind":"duplicate","problem":"重复框"})j")
                 .arg(dir));
}

BRINDLE_TEST_MAIN(TestCheckCli)
#include "tst_checkcli.moc"
