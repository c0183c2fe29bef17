#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "session/autolabelrun.h"
#include "session/foldersession.h"
#include "support/clientrun.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QSignalSpy>

Q_DECLARE_METATYPE(AutoLabelRun::ModelName)

namespace {

const QByteArray kModels = "/v1/models";
const QByteArray kChat = "/v1/chat/completions";

FakeOpenAiServer::Answer modelList(const QStringList &ids, int delayMs = 0)
{
    QByteArray body = "{\"data\":[";
    for (const QString &id : ids)
        body += (body.endsWith('[') ? "" : ",") + QByteArray("{\"id\":\"") + id.toUtf8() + "\"}";
    return FakeOpenAiServer::status(200, body + "]}", delayMs);
}

} // namespace

// One auto-label run as the window (a remembered model name, probed before its dialog) and
// `brindlemark-cli label` (a name given for the run, probed at start) use it.
class TestAutoLabelRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneProbePerRun_data();
    void oneProbePerRun();
    void resultsGoToTheirPlace_data();
    void resultsGoToTheirPlace();
    void offlineServer_data();
    void offlineServer();
    void cancelWhileProbing();
    void othersProbesAreNotTheRuns();

private:
    AutoLabelTask taskOver(const QStringList &paths, const QString &model = QStringLiteral("fake-vl")) const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    QStringList m_images;
    FakeOpenAiServer *m_server = nullptr;
    VllmClient *m_client = nullptr;
    FolderSession *m_session = nullptr;
    AutoLabelRun *m_run = nullptr;
};

void TestAutoLabelRun::initTestCase()
{
    registerAnnotationMetaTypes();
}

void TestAutoLabelRun::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_images.clear();
    for (int i = 0; i < 3; ++i)
        m_images.append(writeTestImage(m_tmp->path(), QSize(400, 400), QStringLiteral("img%1.png").arg(i)));
    QVERIFY(!m_images.contains(QString()));
    m_server = new FakeOpenAiServer(this);
    QVERIFY(m_server->listen());
    m_server->setAnswerFor(kModels, modelList({QStringLiteral("fake-vl")}));
    m_server->setDefaultAnswer(FakeOpenAiServer::chat(kCat));
    m_client = new VllmClient(this);
    m_session = new FolderSession(this);
    m_session->openNow(m_tmp->path());
    m_run = new AutoLabelRun(m_client, m_session, this);
}

void TestAutoLabelRun::cleanup()
{
    delete m_run;
    m_run = nullptr;
    delete m_session;
    m_session = nullptr;
    delete m_client;
    m_client = nullptr;
    delete m_server;
    m_server = nullptr;
    m_tmp.reset();
}

AutoLabelTask TestAutoLabelRun::taskOver(const QStringList &paths, const QString &model) const
{
    AutoLabelTask task = testTask(m_server->baseUrl(), paths, 1);
    task.server.model = model;
    return task;
}

void TestAutoLabelRun::oneProbePerRun_data()
{
    using M = AutoLabelRun::ModelName;
    QTest::addColumn<M>("kind");
    QTest::addColumn<bool>("probeFirst");   // the window probes before its dialog
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("served");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("replaced");

    const QStringList listed{QStringLiteral("fake-vl")};
    QTest::newRow("window, listed name") << M::Remembered << true << "fake-vl" << listed << "fake-vl" << false;
    QTest::newRow("window, unlisted name") << M::Remembered << true << "typo" << listed << "fake-vl" << true;
    QTest::newRow("window, started from the settings") << M::Remembered << false << "typo" << listed << "fake-vl"
                                                       << true;
    QTest::newRow("command line, --model") << M::Given << false << "mine" << listed << "mine" << false;
    QTest::newRow("command line, no --model") << M::Given << false << "" << listed << "fake-vl" << false;
    QTest::newRow("window, nothing listed") << M::Remembered << true << "typo" << QStringList() << "typo" << false;
    QTest::newRow("command line, nothing listed, no --model") << M::Given << false << "" << QStringList()
                                                              << ServerConfig().model << false;
}

void TestAutoLabelRun::oneProbePerRun()
{
    QFETCH(AutoLabelRun::ModelName, kind);
    QFETCH(bool, probeFirst);
    QFETCH(QString, model);
    QFETCH(QStringList, served);
    QFETCH(QString, sent);
    QFETCH(bool, replaced);

    m_server->setAnswerFor(kModels, modelList(served));
    m_run->setModelName(kind);
    QSignalSpy probed(m_run, &AutoLabelRun::probed);
    QSignalSpy replacedSpy(m_run, &AutoLabelRun::modelReplaced);
    QSignalSpy finished(m_run, &AutoLabelRun::finished);
    const AutoLabelTask task = taskOver(m_images, model);
    if (probeFirst) {
        m_run->probe(task.server);
        QTRY_COMPARE(probed.count(), 1);
        QCOMPARE(m_run->servedModels(), served);
    }
    QVERIFY(m_run->start(task));
    QVERIFY(!m_run->start(task));   // one run at a time
    QTRY_COMPARE(finished.count(), 1);

    QCOMPARE(probed.count(), 1);
    QCOMPARE(m_server->requestsFor(kModels).size(), 1);
    const QList<FakeOpenAiServer::Request> chats = m_server->requestsFor(kChat);
    QCOMPARE(chats.size(), m_images.size());
    for (const FakeOpenAiServer::Request &chat : chats)
        QCOMPARE(chat.json().value("model").toString(), sent);
    QCOMPARE(m_run->model(), sent);
    QCOMPARE(replacedSpy.count(), replaced ? 1 : 0);
    if (replaced)
        QCOMPARE(replacedSpy.first(), (QList<QVariant>{model, sent}));

    // The probe was spent: the next run asks again.
    QVERIFY(!m_run->isProbed(m_server->baseUrl()));
    QVERIFY(m_run->start(task));
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(m_server->requestsFor(kModels).size(), 2);
}

void TestAutoLabelRun::resultsGoToTheirPlace_data()
{
    QTest::addColumn<int>("shown");   // the image on screen; -1: none
    QTest::addColumn<QList<bool>>("handledAsShown");
    QTest::addColumn<QList<bool>>("cached");   // merged into the session's cache
    QTest::addColumn<int>("kept");

    // The second image's request fails for good (404); the others find a cat each.
    QTest::newRow("no image on screen") << -1 << QList<bool>{false, false, false} << QList<bool>{true, false, true} << 2;
    QTest::newRow("first image on screen") << 0 << QList<bool>{true, false, false} << QList<bool>{false, false, true}
                                           << 2;
    QTest::newRow("the failing image on screen") << 1 << QList<bool>{false, true, false}
                                                 << QList<bool>{true, false, true} << 2;
}

void TestAutoLabelRun::resultsGoToTheirPlace()
{
    QFETCH(int, shown);
    QFETCH(QList<bool>, handledAsShown);
    QFETCH(QList<bool>, cached);
    QFETCH(int, kept);

    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    m_server->enqueue(FakeOpenAiServer::status(404));
    m_server->enqueue(FakeOpenAiServer::chat(kCat));
    const QString shownPath = m_images.value(shown);
    QList<ImageResult> taken;
    m_run->setShownImage([&](const ImageResult &result) {
        if (result.path != shownPath)
            return -1;
        taken.append(result);
        return int(result.annotations.size());
    });
    QSignalSpy handled(m_run, &AutoLabelRun::imageHandled);
    QSignalSpy finished(m_run, &AutoLabelRun::finished);
    QVERIFY(m_run->start(taskOver(m_images)));
    QTRY_COMPARE(finished.count(), 1);

    QCOMPARE(handled.count(), m_images.size());
    for (int i = 0; i < m_images.size(); ++i) {
        const ImageResult result = handled.at(i).at(0).value<ImageResult>();
        QCOMPARE(result.path, m_images.at(i));
        QCOMPARE(handled.at(i).at(2).toBool(), handledAsShown.at(i));
        QCOMPARE(m_session->hasCachedAnnotations(m_images.at(i)), cached.at(i));
        QCOMPARE(m_session->imageState(m_images.at(i)).failed, i == 1);
    }
    QCOMPARE(taken.size(), shown >= 0 ? 1 : 0);
    QCOMPARE(m_run->kept(), kept);
    QCOMPARE(finished.first().at(0).value<TaskSummary>().failed, 1);
}

void TestAutoLabelRun::offlineServer_data()
{
    QTest::addColumn<FakeOpenAiServer::Answer>("answer");
    QTest::addColumn<int>("httpStatus");
    QTest::newRow("HTTP 503") << FakeOpenAiServer::status(503) << 503;
    QTest::newRow("closed") << FakeOpenAiServer::closeWithoutAnswer() << 0;
}

void TestAutoLabelRun::offlineServer()
{
    QFETCH(FakeOpenAiServer::Answer, answer);
    QFETCH(int, httpStatus);
    m_server->setAnswerFor(kModels, answer);
    QSignalSpy probed(m_run, &AutoLabelRun::probed);
    QSignalSpy finished(m_run, &AutoLabelRun::finished);
    QVERIFY(m_run->start(taskOver(m_images)));
    QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 1, 15000);
    QCOMPARE(probed.first().at(0).toBool(), false);
    QVERIFY(!probed.first().at(1).toString().isEmpty());
    QCOMPARE(m_run->probedHttpStatus(), httpStatus);
    QVERIFY(!m_run->isActive());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(m_server->requestsFor(kChat).size(), 0);
}

void TestAutoLabelRun::cancelWhileProbing()
{
    m_server->setAnswerFor(kModels, modelList({QStringLiteral("fake-vl")}, 300));
    QSignalSpy probed(m_run, &AutoLabelRun::probed);
    QSignalSpy finished(m_run, &AutoLabelRun::finished);
    QVERIFY(m_run->start(taskOver(m_images)));
    QTRY_COMPARE(m_server->requestsFor(kModels).size(), 1);
    m_run->cancel();
    QCOMPARE(finished.count(), 1);
    QVERIFY(finished.first().at(0).value<TaskSummary>().cancelled);
    QVERIFY(!m_run->isActive());
    // The probe's late answer starts nothing.
    QTRY_VERIFY(m_client->isOnline());
    QCOMPARE(probed.count(), 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_server->requestsFor(kChat).size(), 0);
}

void TestAutoLabelRun::othersProbesAreNotTheRuns()
{
    // The run's server answers late; the settings dialog's test of another address answers first.
    m_server->setAnswerFor(kModels, modelList({QStringLiteral("fake-vl")}, 300));
    FakeOpenAiServer other;
    QVERIFY(other.listen());
    other.setAnswerFor(kModels, FakeOpenAiServer::status(404));
    QSignalSpy probed(m_run, &AutoLabelRun::probed);
    QSignalSpy finished(m_run, &AutoLabelRun::finished);
    const AutoLabelTask task = taskOver(m_images);
    QVERIFY(m_run->start(task));
    ServerConfig elsewhere = task.server;
    elsewhere.baseUrl = other.baseUrl();
    m_client->setServerConfig(elsewhere);
    m_client->probeServer();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(probed.count(), 1);
    QCOMPARE(probed.first().at(0).toBool(), true);
    QCOMPARE(other.requestsFor(kModels).size(), 1);
    QCOMPARE(m_server->requestsFor(kChat).size(), m_images.size());
}

BRINDLE_TEST_MAIN(TestAutoLabelRun)
#include "tst_autolabelrun.moc"
