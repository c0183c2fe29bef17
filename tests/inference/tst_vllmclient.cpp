#include "inference/requestbuilder.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "support/clientrun.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThreadPool>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

namespace {

using Run = ClientRun;

QString jpegSizeOf(const QString &dataUrl)
{
    const QString prefix = QStringLiteral("data:image/jpeg;base64,");
    if (!dataUrl.startsWith(prefix))
        return QStringLiteral("no data URL");
    const QImage image = QImage::fromData(QByteArray::fromBase64(dataUrl.mid(prefix.size()).toLatin1()), "JPEG");
    return QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
}

} // namespace

// The request queue: what is sent, how many at a time, and how a task starts, pauses and ends.
class TestVllmClient : public QObject, protected ClientFixture
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
    void totals();
    void undecodableImages();
    void thousandsOfUndecodableImages();
    void emptyTaskAndBusyTask();
    void cancelInFlight();
    void pauseThenCancel();
    void pauseThenResume();
    void destroyedWhileBusy();
};

void TestVllmClient::initTestCase()
{
    QVERIFY(m_dir.isValid());
    registerAnnotationMetaTypes();
}

void TestVllmClient::init()
{
    QVERIFY(startServer(this));
}

void TestVllmClient::cleanup()
{
    stopServer();
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
