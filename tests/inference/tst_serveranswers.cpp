#include "inference/requestbuilder.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "support/clientrun.h"
#include "support/fakeopenaiserver.h"
#include "support/serverthread.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QThread>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

namespace {

using Run = ClientRun;

} // namespace

// What the client makes of the server's answers: retries, failures, caps, time-outs, filters, and
// the probe of the model list.
class TestServerAnswers : public QObject, protected ClientFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void failureRules_data();
    void failureRules();
    void closedWithoutAnswer();
    void answersThatAreNoCompletion_data();
    void answersThatAreNoCompletion();
    void oversizedAnswers_data();
    void oversizedAnswers();
    void tricklingServerMeetsTheDeadline();
    void transferTimeout_data();
    void transferTimeout();
    void filtersOfTheTask_data();
    void filtersOfTheTask();
    void probe_data();
    void probe();
    void probeRefused();
};

void TestServerAnswers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    registerAnnotationMetaTypes();
}

void TestServerAnswers::init()
{
    QVERIFY(startServer(this));
}

void TestServerAnswers::cleanup()
{
    stopServer();
}

void TestServerAnswers::failureRules_data()
{
    using A = FakeOpenAiServer;
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("script");
    QTest::addColumn<QList<bool>>("secondLooks");   // per request: second look (true) or main request
    QTest::addColumn<int>("failStatus");            // -1: reported ok
    QTest::addColumn<int>("detections");

    const auto chat = [](const QString &text) { return A::chat(text); };
    QTest::newRow("detections at once") << QList<A::Answer>{chat(kCat)} << QList<bool>{false} << -1 << 1;
    QTest::newRow("503 then detections") << QList<A::Answer>{A::status(503), chat(kCat)} << QList<bool>{false, false}
                                         << -1 << 1;
    QTest::newRow("503 twice") << QList<A::Answer>{A::status(503), A::status(503)} << QList<bool>{false, false} << 503
                               << 0;
    QTest::newRow("500 then 404") << QList<A::Answer>{A::status(500), A::status(404)} << QList<bool>{false, false} << 404
                                  << 0;
    QTest::newRow("404 not retried") << QList<A::Answer>{A::status(404)} << QList<bool>{false} << 404 << 0;
    QTest::newRow("400 not retried") << QList<A::Answer>{A::status(400, "{\"error\":\"bad schema\"}")}
                                     << QList<bool>{false} << 400 << 0;
    // Qt resends a dropped request once by itself before it reports status 0; the client then retries.
    QTest::newRow("dropped connections, then detections")
        << QList<A::Answer>{A::closeWithoutAnswer(), A::closeWithoutAnswer(), chat(kCat)}
        << QList<bool>{} << -1 << 1;
    QTest::newRow("empty array, second look finds")
        << QList<A::Answer>{chat("[]"), chat(kCat)} << QList<bool>{false, true} << -1 << 1;
    QTest::newRow("empty array twice is final") << QList<A::Answer>{chat("[]"), chat("[]")}
                                                << QList<bool>{false, true} << -1 << 0;
    QTest::newRow("prose twice") << QList<A::Answer>{chat("I see no objects."), chat("Nothing.")}
                                 << QList<bool>{false, true} << -1 << 0;
    QTest::newRow("empty array, second look 503") << QList<A::Answer>{chat("[]"), A::status(503)}
                                                  << QList<bool>{false, true} << 503 << 0;
    QTest::newRow("empty content retried") << QList<A::Answer>{chat(""), chat(kCat)} << QList<bool>{false, false} << -1
                                           << 1;
    QTest::newRow("blank content twice") << QList<A::Answer>{chat(" \n "), chat("")} << QList<bool>{false, false} << -1
                                         << 0;
    QTest::newRow("empty content then 503") << QList<A::Answer>{chat(""), A::status(503)}
                                            << QList<bool>{false, false} << 503 << 0;
    QTest::newRow("body without choices") << QList<A::Answer>{A::status(200, "{}"), chat(kCat)}
                                          << QList<bool>{false, false} << -1 << 1;
    QTest::newRow("500 then empty array has no second look")
        << QList<A::Answer>{A::status(500), chat("[]")} << QList<bool>{false, false} << -1 << 0;
    QTest::newRow("content as text parts")
        << QList<A::Answer>{A::chatContent(QJsonArray{QJsonObject{{"type", "text"}, {"text", "```json"}},
                                                      QJsonObject{{"type", "text"}, {"text", kCat}}})}
        << QList<bool>{false} << -1 << 1;
}

void TestServerAnswers::failureRules()
{
    QFETCH(QList<FakeOpenAiServer::Answer>, script);
    QFETCH(QList<bool>, secondLooks);
    QFETCH(int, failStatus);
    QFETCH(int, detections);

    for (const FakeOpenAiServer::Answer &a : script)
        m_server->enqueue(a);
    m_server->setDefaultAnswer(FakeOpenAiServer::status(418));   // any request beyond the script shows up as a failure
    const QString path = image(QSize(320, 240));
    AutoLabelTask t = task({path});
    t.classes = QStringList{QStringLiteral("cat")};
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE(run.finished.count(), 1);
    QTRY_COMPARE(m_server->openRequests(), 0);
    QCoreApplication::processEvents();

    // An empty list: the number of requests is up to Qt's own resending.
    if (!secondLooks.isEmpty())
        QCOMPARE(m_server->requests().size(), secondLooks.size());
    const QImage sent(path);
    for (int i = 0; i < secondLooks.size(); ++i) {
        const bool second = secondLooks.at(i);
        const QJsonObject body = m_server->requests().at(i).json();
        QCOMPARE(body.value("temperature").toDouble(), second ? 0.3 : 0.0);
        QCOMPARE(body.value("messages").toArray().at(0).toObject().value("content").toString(), systemText(second));
        QCOMPARE(userTextOf(body), userText(QString(), t.classes, second));
        QCOMPARE(imageUrlOf(body), jpegDataUrl(sent, second ? 88 : 85));
    }

    QCOMPARE(run.images.count(), 1);
    const ImageResult report = run.image(0);
    QCOMPARE(report.path, path);
    QCOMPARE(report.answered(), failStatus < 0);
    QCOMPARE(run.anns(0).size(), detections);
    if (failStatus < 0) {
        QCOMPARE(report.error, QString());
    } else {
        const QString prefix =
            translateText("推理失败 (HTTP %1): %2").arg(QString::number(failStatus), QString());
        QVERIFY2(report.error.startsWith(prefix), qPrintable(report.error));
        QVERIFY(report.error.size() > prefix.size());
    }
    QCOMPARE(run.busy.count(), 2);
    QCOMPARE(run.busy.at(1).at(0).toBool(), false);
    const TaskSummary end = run.end();
    QCOMPARE(end.done, 1);
    QCOMPARE(end.total, 1);
    QCOMPARE(end.added, detections);
    QCOMPARE(end.failed, failStatus < 0 ? 0 : 1);
    QCOMPARE(end.cancelled, false);
}

void TestServerAnswers::closedWithoutAnswer()
{
    // However often the connection drops, the image is reported once, as failed with no status.
    m_server->setDefaultAnswer(FakeOpenAiServer::closeWithoutAnswer());
    Run run(m_client);
    m_client->startTask(task({image(QSize(32, 32))}));
    QTRY_COMPARE(run.finished.count(), 1);
    QVERIFY(m_server->requests().size() >= 2);
    QCOMPARE(run.images.count(), 1);
    QVERIFY(run.image(0).failed());
    QVERIFY(run.image(0).error.startsWith(
        translateText("推理失败 (HTTP %1): %2").arg(QStringLiteral("0"), QString())));
    QCOMPARE(run.end().failed, 1);
}

void TestServerAnswers::answersThatAreNoCompletion_data()
{
    using A = FakeOpenAiServer;
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("script");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("reason");   // empty: reported ok
    QTest::addColumn<int>("detections");

    const QByteArray html = "<html><body><h1>502 Bad Gateway</h1></body></html>";
    const QByteArray error = R"({"error":{"message":"model not loaded","type":"server_error","code":503}})";
    QByteArray cut = A::chat(kCat).body;
    cut.chop(cut.size() / 3);
    QByteArray invalidUtf8 = A::chat(QStringLiteral("[]")).body;
    invalidUtf8.insert(invalidUtf8.indexOf("[]"), "\xff\xfe");
    const QString notJson = translateText("回答不是 JSON");
    const QString notCompletion = translateText("回答不是对话补全");
    const QString serverError = translateText("服务器返回错误：%1");

    QTest::newRow("HTML page twice") << QList<A::Answer>{A::status(200, html), A::status(200, html)} << 2 << notJson
                                     << 0;
    QTest::newRow("error object twice") << QList<A::Answer>{A::status(200, error), A::status(200, error)} << 2
                                        << serverError.arg(QStringLiteral("model not loaded")) << 0;
    QTest::newRow("error string twice")
        << QList<A::Answer>{A::status(200, R"({"error":"loading model"})"),
                            A::status(200, R"({"error":"loading model"})")}
        << 2 << serverError.arg(QStringLiteral("loading model")) << 0;
    QTest::newRow("completion cut off twice") << QList<A::Answer>{A::status(200, cut), A::status(200, cut)} << 2
                                              << notJson << 0;
    QTest::newRow("invalid UTF-8 twice") << QList<A::Answer>{A::status(200, invalidUtf8), A::status(200, invalidUtf8)}
                                         << 2 << notJson << 0;
    QTest::newRow("JSON array twice") << QList<A::Answer>{A::status(200, "[1,2]"), A::status(200, "[1,2]")} << 2
                                      << notCompletion << 0;
    QTest::newRow("choice without message twice")
        << QList<A::Answer>{A::status(200, R"({"choices":[{"index":0}]})"),
                            A::status(200, R"({"choices":[{"index":0}]})")}
        << 2 << notCompletion << 0;
    QTest::newRow("HTML page, then detections") << QList<A::Answer>{A::status(200, html), A::chat(kCat)} << 2
                                                << QString() << 1;
    QTest::newRow("error object, then detections") << QList<A::Answer>{A::status(200, error), A::chat(kCat)} << 2
                                                   << QString() << 1;
    QTest::newRow("second look answered with HTML")
        << QList<A::Answer>{A::chat(QStringLiteral("[]")), A::status(200, html)} << 2 << notJson << 0;
    // A completion is never a failure, even without anything in it.
    QTest::newRow("content null twice is no objects")
        << QList<A::Answer>{A::chatContent(QJsonValue::Null), A::chatContent(QJsonValue::Null)} << 2 << QString()
        << 0;
    QTest::newRow("content without a detections array is no objects")
        << QList<A::Answer>{A::chat(QStringLiteral("{\"objects\":[]}")), A::chat(QStringLiteral("nothing here"))}
        << 2 << QString() << 0;
}

void TestServerAnswers::answersThatAreNoCompletion()
{
    QFETCH(QList<FakeOpenAiServer::Answer>, script);
    QFETCH(int, requests);
    QFETCH(QString, reason);
    QFETCH(int, detections);
    for (const FakeOpenAiServer::Answer &a : script)
        m_server->enqueue(a);
    m_server->setDefaultAnswer(FakeOpenAiServer::status(418));
    Run run(m_client);
    m_client->startTask(task({image(QSize(320, 240))}));
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(m_server->requests().size(), requests);
    QCOMPARE(run.images.count(), 1);
    QCOMPARE(run.image(0).answered(), reason.isEmpty());
    QCOMPARE(run.image(0).error, reason);
    QCOMPARE(run.anns(0).size(), detections);
    QCOMPARE(run.end().failed, reason.isEmpty() ? 0 : 1);
}

void TestServerAnswers::oversizedAnswers_data()
{
    QTest::addColumn<bool>("declareLength");
    QTest::addColumn<bool>("ownerStalls");   // this thread sleeps a second once the request is in
    QTest::newRow("endless body") << false << false;
    QTest::newRow("announced 2 GiB") << true << false;
    QTest::newRow("endless body, owner stalled") << false << true;
    QTest::newRow("announced 2 GiB, owner stalled") << true << true;
}

void TestServerAnswers::oversizedAnswers()
{
    QFETCH(bool, declareLength);
    QFETCH(bool, ownerStalls);
    // On a thread of its own, the server streams as fast as it can while this thread sleeps.
    ServerThread streamer(FakeOpenAiServer::endless(declareLength));
    QVERIFY(streamer.isListening());
    if (ownerStalls) {
        connect(streamer.server(), &FakeOpenAiServer::requestReceived, this, [] { QThread::msleep(1000); },
                Qt::QueuedConnection);
    }
    Run run(m_client);
    m_client->startTask(testTask(streamer.baseUrl(), {image(QSize(32, 32))}, 1));
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
    // Failed at once, not retried: the server would only send it again.
    QCOMPARE(streamer.requestCount(), 1);
    QVERIFY(run.image(0).failed());
    QCOMPARE(run.image(0).error, translateText("回答超过 %1 MiB").arg(32));
    // An announced length is refused before the body is read. An endless body is read up to the
    // cap. However late this thread is to take the data, the network thread holds one read
    // buffer at most: the server gets no further than the cap plus the buffers of the sockets.
    const qint64 bound = declareLength && !ownerStalls ? qint64(8) << 20 : qint64(32 + 16) << 20;
    QVERIFY2(streamer.bytesStreamed() < bound, qPrintable(QString::number(streamer.bytesStreamed())));
    QTRY_COMPARE(streamer.openRequests(), 0);
}

void TestServerAnswers::tricklingServerMeetsTheDeadline()
{
    // A byte a second never trips the 5 s transfer time-out; the 20 s deadline of the whole
    // request ends it, and the image is asked once more.
    m_server->enqueue(FakeOpenAiServer::trickle(1000));
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    AutoLabelTask t = task({image(QSize(32, 32))});
    t.server.timeout = 1;
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 60000);
    QCOMPARE(m_server->requests().size(), 2);
    QVERIFY(m_server->bytesStreamed() >= 5);
    QVERIFY(run.image(0).answered());
    QCOMPARE(run.anns(0).size(), 1);
}

void TestServerAnswers::transferTimeout_data()
{
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("script");
    QTest::addColumn<bool>("ok");
    QTest::newRow("silent server, retried once")
        << QList<FakeOpenAiServer::Answer>{FakeOpenAiServer::neverAnswer(), FakeOpenAiServer::chat(kCat)} << true;
    QTest::newRow("silent twice fails")
        << QList<FakeOpenAiServer::Answer>{FakeOpenAiServer::neverAnswer(), FakeOpenAiServer::neverAnswer()} << false;
}

void TestServerAnswers::transferTimeout()
{
    QFETCH(QList<FakeOpenAiServer::Answer>, script);
    QFETCH(bool, ok);
    for (const FakeOpenAiServer::Answer &a : script)
        m_server->enqueue(a);
    AutoLabelTask t = task({image(QSize(32, 32))});
    t.server.timeout = 1;   // the shortest allowed, 5 s
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(run.images.count(), 1);
    QCOMPARE(!run.image(0).failed(), ok);
    if (!ok)
        QVERIFY(run.image(0).error.startsWith(
            translateText("推理失败 (HTTP %1): %2").arg(QStringLiteral("0"), QString())));
}

void TestServerAnswers::filtersOfTheTask_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("reviewMode");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("label");   // empty: nothing kept

    const QString dog = QStringLiteral("[{\"label\":\"dog\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]");
    const QString weakCat = QStringLiteral("[{\"label\":\"Cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.3}]");
    QTest::newRow("blank prompt restricts to the classes") << QStringLiteral(" ") << false << dog << 2 << QString();
    QTest::newRow("own prompt keeps other labels") << QStringLiteral("find dogs") << false << dog << 1
                                                   << QStringLiteral("dog");
    QTest::newRow("minScore drops a weak detection") << QString() << false << weakCat << 2 << QString();
    QTest::newRow("review mode lowers minScore to 0.25") << QString() << true << weakCat << 1 << QStringLiteral("cat");
}

void TestServerAnswers::filtersOfTheTask()
{
    QFETCH(QString, prompt);
    QFETCH(bool, reviewMode);
    QFETCH(QString, answer);
    QFETCH(int, requests);
    QFETCH(QString, label);

    m_server->setDefaultAnswer(FakeOpenAiServer::chat(answer));
    AutoLabelTask t = task({image(QSize(100, 100))});
    t.prompt = prompt;
    t.classes = QStringList{QStringLiteral("cat")};
    t.reviewMode = reviewMode;
    t.minScore = 0.4;
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(m_server->requests().size(), requests);
    QVERIFY(run.image(0).answered());
    const QList<Annotation> anns = run.anns(0);
    QCOMPARE(anns.size(), label.isEmpty() ? 0 : 1);
    if (!label.isEmpty())
        QCOMPARE(anns.first().label, label);
}

void TestServerAnswers::probe_data()
{
    QTest::addColumn<FakeOpenAiServer::Answer>("answer");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("detail");   // "*": any non-empty text

    QTest::newRow("model id") << FakeOpenAiServer::status(200, "{\"object\":\"list\",\"data\":[{\"id\":\"qwen-vl\"}]}")
                              << true << QStringLiteral("qwen-vl");
    QTest::newRow("empty data") << FakeOpenAiServer::status(200, "{\"data\":[]}") << true << QString();
    QTest::newRow("id not a string") << FakeOpenAiServer::status(200, "{\"data\":[{\"id\":7}]}") << true << QString();
    QTest::newRow("not JSON") << FakeOpenAiServer::status(200, "ok") << true << QString();
    QTest::newRow("not found") << FakeOpenAiServer::status(404) << false << QStringLiteral("HTTP 404");
    QTest::newRow("server error") << FakeOpenAiServer::status(503) << false << QStringLiteral("HTTP 503");
    QTest::newRow("closed") << FakeOpenAiServer::closeWithoutAnswer() << false << QStringLiteral("*");
    QTest::newRow("no answer within 5 s") << FakeOpenAiServer::neverAnswer() << false << QStringLiteral("*");
}

void TestServerAnswers::probe()
{
    QFETCH(FakeOpenAiServer::Answer, answer);
    QFETCH(bool, online);
    QFETCH(QString, detail);

    m_server->setDefaultAnswer(answer);
    ServerConfig config;
    config.baseUrl = m_server->baseUrl();
    m_client->setServerConfig(config);
    QSignalSpy status(m_client, &VllmClient::statusChanged);
    m_client->probeServer();
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 15000);
    QCOMPARE(m_server->requests().first().method, QByteArray("GET"));
    QCOMPARE(m_server->requests().first().path, QByteArray("/v1/models"));
    QCOMPARE(status.first().at(0).toBool(), online);
    if (detail == QLatin1String("*"))
        QVERIFY(!status.first().at(1).toString().isEmpty());
    else
        QCOMPARE(status.first().at(1).toString(), detail);
}

void TestServerAnswers::probeRefused()
{
    const QString url = m_server->baseUrl();
    delete m_server;   // nobody listens on that port any more
    m_server = nullptr;
    ServerConfig config;
    config.baseUrl = url;
    m_client->setServerConfig(config);
    QSignalSpy status(m_client, &VllmClient::statusChanged);
    m_client->probeServer();
    QTRY_COMPARE(status.count(), 1);
    QCOMPARE(status.first().at(0).toBool(), false);
    QVERIFY(!status.first().at(1).toString().isEmpty());
}

BRINDLE_TEST_MAIN(TestServerAnswers)
#include "tst_serveranswers.moc"
