#include "inference/requestbuilder.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThreadPool>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

namespace {

const QString kCat = QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]");

// Every signal of one task, checked for the exactly-once rules.
struct Run
{
    explicit Run(VllmClient *client)
        : busy(client, &VllmClient::busyChanged)
        , images(client, &VllmClient::imageFinished)
        , progress(client, &VllmClient::progress)
        , finished(client, &VllmClient::taskFinished)
    {
    }
    QSignalSpy busy;
    QSignalSpy images;
    QSignalSpy progress;
    QSignalSpy finished;

    ImageResult image(int i) const { return images.at(i).at(0).value<ImageResult>(); }
    TaskSummary end() const { return finished.first().at(0).value<TaskSummary>(); }
    // done, total, added, average confidence, failed, cancelled of the task's nth end.
    QList<QVariant> endFields(qsizetype i) const
    {
        const TaskSummary e = finished.at(i).at(0).value<TaskSummary>();
        return {e.done, e.total, e.added, e.avgConfidence, e.failed, e.cancelled};
    }
    QList<ImageResult> results() const
    {
        QList<ImageResult> all;
        for (const QList<QVariant> &report : images)
            all.append(report.at(0).value<ImageResult>());
        return all;
    }
    QList<Annotation> anns(int i) const { return image(i).annotations; }
};

QString jpegSizeOf(const QString &dataUrl)
{
    const QString prefix = QStringLiteral("data:image/jpeg;base64,");
    if (!dataUrl.startsWith(prefix))
        return QStringLiteral("no data URL");
    const QImage image = QImage::fromData(QByteArray::fromBase64(dataUrl.mid(prefix.size()).toLatin1()), "JPEG");
    return QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
}

QString imageUrlOf(const QJsonObject &body)
{
    const QJsonArray parts = body.value("messages").toArray().at(1).toObject().value("content").toArray();
    return parts.at(1).toObject().value("image_url").toObject().value("url").toString();
}

QString userTextOf(const QJsonObject &body)
{
    const QJsonArray parts = body.value("messages").toArray().at(1).toObject().value("content").toArray();
    return parts.at(0).toObject().value("text").toString();
}

} // namespace

class TestVllmClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestBody_data();
    void requestBody();
    void downscaledAnswerMapsToSource();
    void concurrencyAtTheServer_data();
    void concurrencyAtTheServer();
    void manyConnectionsAtOnce_data();
    void manyConnectionsAtOnce();
    void bodiesAsBuilt();
    void cancelWhilePreparing();
    void cancelFromProgressSlot();
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
    void totals();
    void undecodableImages();
    void thousandsOfUndecodableImages();
    void emptyTaskAndBusyTask();
    void cancelInFlight();
    void pauseThenCancel();
    void pauseThenResume();
    void probe_data();
    void probe();
    void probeRefused();
    void destroyedWhileBusy();

private:
    QString image(QSize size, const QString &name = QString());
    AutoLabelTask task(const QStringList &paths, int concurrency = 1) const;

    QTemporaryDir m_dir;
    FakeOpenAiServer *m_server = nullptr;
    VllmClient *m_client = nullptr;
    int m_imageCount = 0;
};

void TestVllmClient::initTestCase()
{
    QVERIFY(m_dir.isValid());
    registerAnnotationMetaTypes();
}

void TestVllmClient::init()
{
    m_server = new FakeOpenAiServer(this);
    QVERIFY(m_server->listen());
    m_client = new VllmClient(this);
}

void TestVllmClient::cleanup()
{
    delete m_client;
    m_client = nullptr;
    delete m_server;
    m_server = nullptr;
}

QString TestVllmClient::image(QSize size, const QString &name)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(80, 120, 40));
    for (int x = 0; x < qMin(size.width(), 50); ++x)
        img.setPixelColor(x, x % size.height(), Qt::white);
    const QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("img%1.png").arg(++m_imageCount) : name);
    return img.save(path) ? path : QString();
}

AutoLabelTask TestVllmClient::task(const QStringList &paths, int concurrency) const
{
    AutoLabelTask t;
    t.paths = paths;
    t.server.baseUrl = m_server->baseUrl();
    t.server.model = QStringLiteral("test-model");
    t.server.concurrency = concurrency;
    return t;
}

void TestVllmClient::requestBody_data()
{
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("reviewMode");
    QTest::addColumn<bool>("expectEnum");

    const QStringList classes{QStringLiteral("cat"), QStringLiteral("狗")};
    QTest::newRow("no classes") << QStringList() << QString() << false << false;
    QTest::newRow("classes give an enum") << classes << QString() << false << true;
    QTest::newRow("own prompt keeps the enum") << classes << QStringLiteral("find cats") << false << true;
    QTest::newRow("review mode drops the enum") << classes << QString() << true << false;
}

void TestVllmClient::requestBody()
{
    QFETCH(QStringList, classes);
    QFETCH(QString, prompt);
    QFETCH(bool, reviewMode);
    QFETCH(bool, expectEnum);

    const QString path = image(QSize(300, 200));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    AutoLabelTask t = task({path});
    t.classes = classes;
    t.prompt = prompt;
    t.reviewMode = reviewMode;
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE(run.finished.count(), 1);

    QCOMPARE(m_server->requests().size(), 1);
    const FakeOpenAiServer::Request request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/v1/chat/completions"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
    QVERIFY(!request.headers.contains("authorization"));
    QVERIFY(QString::fromUtf8(request.body).contains(QRegularExpression(QStringLiteral("\"temperature\":0[,}]"))));
    QVERIFY(request.body.contains("\"max_tokens\":4096"));

    const QJsonObject body = request.json();
    QCOMPARE(body.keys(), (QStringList{"max_tokens", "messages", "model", "response_format", "temperature"}));
    QCOMPARE(body.value("model").toString(), QStringLiteral("test-model"));
    QCOMPARE(body.value("temperature").toDouble(), 0.0);
    const QJsonArray messages = body.value("messages").toArray();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).toObject(), (QJsonObject{{"role", "system"}, {"content", systemText(false)}}));
    QVERIFY(!messages.at(0).toObject().value("content").toString().contains(QLatin1Char('\'')));
    QVERIFY(messages.at(0).toObject().value("content").toString().contains(QStringLiteral("\"bbox_2d\":[x1,y1,x2,y2]")));
    QCOMPARE(messages.at(1).toObject().value("role").toString(), QStringLiteral("user"));
    const QJsonArray parts = messages.at(1).toObject().value("content").toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0).toObject(), (QJsonObject{{"type", "text"}, {"text", userText(prompt, classes, false)}}));
    QCOMPARE(parts.at(1).toObject().value("type").toString(), QStringLiteral("image_url"));
    QCOMPARE(jpegSizeOf(imageUrlOf(body)), QStringLiteral("300x200"));
    QCOMPARE(imageUrlOf(body), jpegDataUrl(QImage(path), 85));

    const QJsonObject label = body.value("response_format").toObject().value("json_schema").toObject()
                                  .value("schema").toObject().value("items").toObject()
                                  .value("properties").toObject().value("label").toObject();
    QCOMPARE(label.contains("enum"), expectEnum);
    if (expectEnum)
        QCOMPARE(label.value("enum").toArray(), QJsonArray::fromStringList(classes));
    QCOMPARE(body.value("response_format").toObject(), responseFormat(expectEnum ? classes : QStringList()));
}

void TestVllmClient::downscaledAnswerMapsToSource()
{
    const QString path = image(QSize(4000, 3000));
    m_server->setDefaultAnswer(
        FakeOpenAiServer::chat(QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[1176,294,1568,1176],\"score\":0.8}]")));
    Run run(m_client);
    m_client->startTask(task({path}));
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(jpegSizeOf(imageUrlOf(m_server->requests().first().json())), QStringLiteral("1568x1176"));
    const QList<Annotation> anns = run.anns(0);
    QCOMPARE(anns.size(), 1);
    QCOMPARE(anns.first().rect, QRectF(QPointF(3000, 750), QPointF(4000, 3000)));
    QCOMPARE(anns.first().pending, 1);
}

void TestVllmClient::concurrencyAtTheServer_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero counts as one") << 0 << 1;
    QTest::newRow("negative counts as one") << -2 << 1;
    QTest::newRow("three") << 3 << 3;
}

void TestVllmClient::concurrencyAtTheServer()
{
    QFETCH(int, concurrency);
    QFETCH(int, expected);
    QStringList paths;
    for (int i = 0; i < 5; ++i)
        paths << image(QSize(64, 64));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 300));
    Run run(m_client);
    m_client->startTask(task(paths, concurrency));
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 20000);
    QCOMPARE(m_server->requests().size(), 5);
    QCOMPARE(m_server->maxOpenRequests(), expected);
    QCOMPARE(run.end().done, 5);
    QCOMPARE(run.end().added, 5);
}

void TestVllmClient::manyConnectionsAtOnce_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("atLeast");
    QTest::newRow("seven, beyond one manager's six") << 7 << 7;
    QTest::newRow("twelve") << 12 << 10;
    QTest::newRow("twenty") << 20 << 18;
}

void TestVllmClient::manyConnectionsAtOnce()
{
    QFETCH(int, concurrency);
    QFETCH(int, atLeast);
    const QString path = image(QSize(64, 64));
    QStringList paths;
    for (int i = 0; i < concurrency + 2; ++i)
        paths << path;
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 1500));
    Run run(m_client);
    m_client->startTask(task(paths, concurrency));
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
    QCOMPARE(m_server->requests().size(), paths.size());
    QVERIFY2(m_server->maxOpenRequests() >= atLeast, qPrintable(QString::number(m_server->maxOpenRequests())));
    QVERIFY(m_server->maxOpenRequests() <= concurrency);
    QCOMPARE(run.end().added, paths.size());
}

void TestVllmClient::bodiesAsBuilt()
{
    // What reaches the server is byte for byte what the request builder makes for the image.
    const QString path = image(QSize(2000, 900));
    m_server->enqueue(FakeOpenAiServer::chat(QStringLiteral("[]")));
    m_server->enqueue(FakeOpenAiServer::chat(QStringLiteral("[]")));
    AutoLabelTask t = task({path});
    t.classes = QStringList{QStringLiteral("cat"), QStringLiteral("狗")};
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(m_server->requests().size(), 2);

    RequestJob job;
    job.path = path;
    job.model = t.server.model;
    job.classes = t.classes;
    job.enumClasses = t.classes;
    QCOMPARE(m_server->requests().at(0).body, buildChatRequest(job).body);
    job.secondLook = true;
    QCOMPARE(m_server->requests().at(1).body, buildChatRequest(job).body);
}

void TestVllmClient::cancelWhilePreparing()
{
    const QString big = image(QSize(6000, 4000));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    Run run(m_client);
    m_client->startTask(task({big, big, big}, 2));
    m_client->cancel();
    // Both images being prepared are reported at once; the third never started.
    QCOMPARE(run.images.count(), 2);
    for (const ImageResult &report : run.results())
        QVERIFY(report.cancelled());
    QCOMPARE(run.finished.count(), 1);
    QCOMPARE(run.endFields(0), (QList<QVariant>{2, 3, 0, 0.0, 0, true}));
    QCOMPARE(run.busy.count(), 2);

    // The builds that were under way finish into nothing.
    QThreadPool *pool = m_client->findChild<QThreadPool *>();
    QVERIFY(pool);
    pool->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(run.images.count(), 2);
    QCOMPARE(m_server->requests().size(), 0);

    const QString small = image(QSize(40, 40));
    m_client->startTask(task({small}));
    QTRY_COMPARE(run.finished.count(), 2);
    QCOMPARE(run.images.count(), 3);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestVllmClient::cancelFromProgressSlot()
{
    // A window may cancel while it handles the progress of an image that is just starting.
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    const QStringList paths{image(QSize(40, 40)), image(QSize(40, 40)), image(QSize(40, 40))};
    Run run(m_client);
    connect(m_client, &VllmClient::progress, this, [this, &paths](int done, int, const QString &file) {
        if (done == 1 && file == paths.at(1))
            m_client->cancel();
    });
    m_client->startTask(task(paths, 1));
    m_client->pause();   // builds ahead the second image
    QTRY_COMPARE(run.images.count(), 1);
    m_client->resume();
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(run.images.count(), 2);
    QCOMPARE(run.image(1).path, paths.at(1));
    QVERIFY(run.image(1).cancelled());
    QCOMPARE(run.end().cancelled, true);
    QCOMPARE(run.busy.count(), 2);
    QTRY_COMPARE(m_server->openRequests(), 0);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestVllmClient::failureRules_data()
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

void TestVllmClient::failureRules()
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

void TestVllmClient::closedWithoutAnswer()
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

void TestVllmClient::answersThatAreNoCompletion_data()
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

void TestVllmClient::answersThatAreNoCompletion()
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

void TestVllmClient::oversizedAnswers_data()
{
    QTest::addColumn<bool>("declareLength");
    QTest::newRow("endless body") << false;
    QTest::newRow("announced 2 GiB") << true;
}

void TestVllmClient::oversizedAnswers()
{
    QFETCH(bool, declareLength);
    m_server->setDefaultAnswer(FakeOpenAiServer::endless(declareLength));
    Run run(m_client);
    m_client->startTask(task({image(QSize(32, 32))}));
    QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
    // Failed at once, not retried: the server would only send it again.
    QCOMPARE(m_server->requests().size(), 1);
    QVERIFY(run.image(0).failed());
    QCOMPARE(run.image(0).error, translateText("回答超过 %1 MiB").arg(32));
    // An announced length is refused before the body is read. An endless body is read up to the
    // cap; the network thread may run ahead of the abort by a few hundred megabytes when the GUI
    // thread is late to take the data (seen about once in a dozen runs), but never reads it all.
    const qint64 bound = declareLength ? qint64(8) << 20 : qint64(1) << 30;
    QVERIFY2(m_server->bytesStreamed() < bound, qPrintable(QString::number(m_server->bytesStreamed())));
    QTRY_COMPARE(m_server->openRequests(), 0);
}

void TestVllmClient::tricklingServerMeetsTheDeadline()
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

void TestVllmClient::transferTimeout_data()
{
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("script");
    QTest::addColumn<bool>("ok");
    QTest::newRow("silent server, retried once")
        << QList<FakeOpenAiServer::Answer>{FakeOpenAiServer::neverAnswer(), FakeOpenAiServer::chat(kCat)} << true;
    QTest::newRow("silent twice fails")
        << QList<FakeOpenAiServer::Answer>{FakeOpenAiServer::neverAnswer(), FakeOpenAiServer::neverAnswer()} << false;
}

void TestVllmClient::transferTimeout()
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

void TestVllmClient::filtersOfTheTask_data()
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

void TestVllmClient::filtersOfTheTask()
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

void TestVllmClient::totals()
{
    m_server->enqueue(FakeOpenAiServer::chat(QStringLiteral("[{\"label\":\"a\",\"bbox_2d\":[0,0,500,500],\"score\":0.9}]")));
    m_server->enqueue(FakeOpenAiServer::chat(QStringLiteral("[{\"label\":\"a\",\"bbox_2d\":[0,0,500,500],\"score\":0.5},"
                                                            "{\"label\":\"b\",\"bbox_2d\":[0,0,500,500]}]")));
    m_server->enqueue(FakeOpenAiServer::status(404));
    AutoLabelTask t = task({image(QSize(100, 100)), image(QSize(100, 100)), image(QSize(100, 100))});
    t.markPending = false;
    Run run(m_client);
    m_client->startTask(t);
    QTRY_COMPARE(run.finished.count(), 1);
    const TaskSummary end = run.end();
    QCOMPARE(end.done, 3);
    QCOMPARE(end.total, 3);
    QCOMPARE(end.added, 3);
    QCOMPARE(end.avgConfidence, (0.9 + 0.5 + 1.0) / 3);
    QCOMPARE(end.failed, 1);
    QCOMPARE(run.anns(0).first().pending, 0);

    // progress: the start, then per image its start and its report.
    QCOMPARE(run.progress.count(), 7);
    QCOMPARE(run.progress.first(), (QList<QVariant>{0, 3, t.paths.at(0)}));
    QCOMPARE(run.progress.last(), (QList<QVariant>{3, 3, t.paths.at(2)}));
}

void TestVllmClient::undecodableImages()
{
    const QString broken = m_dir.filePath(QStringLiteral("broken.jpg"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xff\xd8 not really");
    file.close();
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    const QString good = image(QSize(100, 100));
    Run run(m_client);
    m_client->startTask(task({broken, good, m_dir.filePath(QStringLiteral("missing.png"))}, 2));
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(run.images.count(), 3);
    int failed = 0;
    for (const ImageResult &report : run.results()) {
        if (report.path == good) {
            QVERIFY(report.answered());
        } else {
            QVERIFY(report.failed());
            QCOMPARE(report.error, translateText("图片解码失败"));
            ++failed;
        }
    }
    QCOMPARE(failed, 2);
    QCOMPARE(run.end().failed, 2);
}

void TestVllmClient::thousandsOfUndecodableImages()
{
    // Every one is reported at once inside the pump; the count must hold and the stack must not grow.
    QStringList paths;
    for (int i = 0; i < 30000; ++i)
        paths << m_dir.filePath(QStringLiteral("gone/%1.jpg").arg(i));
    Run run(m_client);
    m_client->startTask(task(paths, 4));
    QCOMPARE(run.finished.count(), 1);
    QCOMPARE(run.images.count(), 30000);
    QCOMPARE(run.end().done, 30000);
    QCOMPARE(run.end().failed, 30000);
    QCOMPARE(run.busy.count(), 2);
    QVERIFY(!m_client->isBusy());
}

void TestVllmClient::emptyTaskAndBusyTask()
{
    Run run(m_client);
    m_client->startTask(task({}));
    QCOMPARE(run.busy.count(), 0);
    QCOMPARE(run.progress.count(), 0);
    QVERIFY(!m_client->isBusy());

    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 200));
    const QString first = image(QSize(50, 50));
    m_client->startTask(task({first}));
    QVERIFY(m_client->isBusy());
    m_client->startTask(task({image(QSize(50, 50)), image(QSize(50, 50))}));
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(run.end().total, 1);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(run.image(0).path, first);
    QCOMPARE(run.busy.count(), 2);
}

void TestVllmClient::cancelInFlight()
{
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    const QStringList paths{image(QSize(50, 50)), image(QSize(50, 50)), image(QSize(50, 50))};
    Run run(m_client);
    m_client->startTask(task(paths, 2));
    QTRY_COMPARE(m_server->requests().size(), 2);

    m_client->cancel();
    QCOMPARE(run.images.count(), 2);
    for (const ImageResult &report : run.results()) {
        QVERIFY(report.cancelled());
        QVERIFY(report.annotations.isEmpty());
    }
    QCOMPARE(run.finished.count(), 1);
    QCOMPARE(run.endFields(0), (QList<QVariant>{2, 3, 0, 0.0, 0, true}));
    QCOMPARE(run.busy.count(), 2);
    QVERIFY(!m_client->isBusy());

    // The aborted connections close; nothing else is reported.
    QTRY_COMPARE(m_server->openRequests(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(run.images.count(), 2);
    QCOMPARE(run.finished.count(), 1);
    m_client->cancel();
    QCOMPARE(run.finished.count(), 1);

    // The client is usable again and not left cancelled.
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    m_client->startTask(task({paths.at(2)}));
    QTRY_COMPARE(run.finished.count(), 2);
    QCOMPARE(run.endFields(run.finished.size() - 1), (QList<QVariant>{1, 1, 1, 0.9, 0, false}));
}

void TestVllmClient::pauseThenCancel()
{
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 100));
    const QStringList paths{image(QSize(50, 50)), image(QSize(50, 50)), image(QSize(50, 50))};
    Run run(m_client);
    m_client->startTask(task(paths, 1));
    m_client->pause();
    QTRY_COMPARE(run.images.count(), 1);
    QCOMPARE(run.progress.count(), 3);   // start, first image started, first image reported
    QCOMPARE(run.progress.last(), (QList<QVariant>{1, 3, paths.at(0)}));
    QVERIFY(m_client->isBusy());
    QTRY_COMPARE(m_server->openRequests(), 0);
    QCOMPARE(m_server->requests().size(), 1);

    m_client->cancel();
    QCOMPARE(run.finished.count(), 1);
    QCOMPARE(run.endFields(0), (QList<QVariant>{1, 3, 1, 0.9, 0, true}));
    QCOMPARE(run.busy.count(), 2);
    QCOMPARE(run.images.count(), 1);
}

void TestVllmClient::pauseThenResume()
{
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat, 50));
    const QStringList paths{image(QSize(50, 50)), image(QSize(50, 50)), image(QSize(50, 50))};
    Run run(m_client);
    m_client->startTask(task(paths, 1));
    m_client->pause();
    QTRY_COMPARE(run.images.count(), 1);
    QVERIFY(m_client->isPaused());
    m_client->resume();
    QTRY_COMPARE(run.finished.count(), 1);
    QCOMPARE(run.endFields(0), (QList<QVariant>{3, 3, 3, 0.9, 0, false}));
    QCOMPARE(m_server->requests().size(), 3);
}

void TestVllmClient::probe_data()
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

void TestVllmClient::probe()
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

void TestVllmClient::probeRefused()
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

void TestVllmClient::destroyedWhileBusy()
{
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    Run run(m_client);
    m_client->startTask(task({image(QSize(50, 50))}));
    QTRY_COMPARE(m_server->openRequests(), 1);
    delete m_client;
    m_client = nullptr;
    QTRY_COMPARE(m_server->openRequests(), 0);
    QCOMPARE(run.images.count(), 0);
}

BRINDLE_TEST_MAIN(TestVllmClient)
#include "tst_vllmclient.moc"
