#include "storage/pendingfile.h"
#include "storage/storagefixtures.h"
#include "support/clirunner.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTimer>

#include <memory>

namespace {

const QString kCat = QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]");
const QByteArray kChatPath = "/v1/chat/completions";

QList<QJsonObject> jsonLines(const CliResult &r)
{
    QList<QJsonObject> lines;
    for (const QString &line : r.lines)
        lines.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return lines;
}

// The per-image lines of --progress jsonl: all but the summary.
QList<QJsonObject> imageLines(const CliResult &r)
{
    QList<QJsonObject> lines = jsonLines(r);
    if (!lines.isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

// brindlemark-cli label (and check's model half) spread over several model servers, and label over
// several processes on one folder.
class TestScaleOutCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void severalServers_data();
    void severalServers();
    void firstServerDownAtStart();
    void shardsCoverEachImageOnce();
    void lockOfAnotherHost_data();
    void lockOfAnotherHost();
    void shardUsage_data();
    void shardUsage();
    void checkOverSeveralServers_data();
    void checkOverSeveralServers();

private:
    FakeOpenAiServer *addServer(const FakeOpenAiServer::Answer &chat);
    void addImages(int count);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
    QList<FakeOpenAiServer *> m_servers;
};

void TestScaleOutCli::init()
{
    qDeleteAll(m_servers);
    m_servers.clear();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/images");
    m_images.clear();
}

FakeOpenAiServer *TestScaleOutCli::addServer(const FakeOpenAiServer::Answer &chat)
{
    auto *server = new FakeOpenAiServer(this);
    if (!server->listen())
        return nullptr;
    server->setAnswerFor("/v1/models", FakeOpenAiServer::status(200, R"({"data":[{"id":"served-model"}]})"));
    server->setDefaultAnswer(chat);
    m_servers.append(server);
    return server;
}

void TestScaleOutCli::addImages(int count)
{
    for (int i = 0; i < count; ++i) {
        const QString path = m_dir + QStringLiteral("/img%1.png").arg(i);
        QVERIFY(Fixtures::makeImage(path, 200, 100));
        m_images.append(path);
    }
}

void TestScaleOutCli::severalServers_data()
{
    QTest::addColumn<int>("firstStatus");     // what the first server answers a chat request
    QTest::addColumn<QString>("second");      // "answers", "503" or "refused"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("failed");

    QTest::newRow("two servers share the images") << 200 << "answers" << 0 << 0;
    QTest::newRow("a server answering 503 rests, the other takes its images") << 200 << "503" << 0 << 0;
    QTest::newRow("a server refusing connections costs no image") << 200 << "refused" << 0 << 0;
    QTest::newRow("every server down past the timeout fails the run") << 503 << "503" << 1 << 8;
}

void TestScaleOutCli::severalServers()
{
    QFETCH(int, firstStatus);
    QFETCH(QString, second);
    QFETCH(int, exitCode);
    QFETCH(int, failed);
    addImages(8);
    const auto answerOf = [](int status) {
        return status == 200 ? FakeOpenAiServer::chat(kCat, 200) : FakeOpenAiServer::status(status, "{}", 20);
    };
    FakeOpenAiServer *first = addServer(answerOf(firstStatus));
    QVERIFY(first);
    QString secondUrl;
    QTcpServer closed;
    if (second == u"refused") {
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        secondUrl = QStringLiteral("http://127.0.0.1:%1/v1").arg(closed.serverPort());
        closed.close();
    } else {
        FakeOpenAiServer *other = addServer(answerOf(second == u"answers" ? 200 : 503));
        QVERIFY(other);
        secondUrl = other->baseUrl();
    }

    const CliResult r = runCli({"label", "--server", first->baseUrl(), "--server", secondUrl, "--concurrency", "2",
                                "--timeout", "1", "--progress", "jsonl", m_dir});
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    const QJsonObject summary = jsonLines(r).value(jsonLines(r).size() - 1);
    QCOMPARE(summary.value("done").toInt(), 8);
    QCOMPARE(summary.value("failed").toInt(), failed);

    // The summary counts what each server received.
    const QJsonArray servers = summary.value("servers").toArray();
    QCOMPARE(servers.size(), 2);
    QCOMPARE(servers.at(0).toObject().value("url").toString(), first->baseUrl());
    QCOMPARE(servers.at(0).toObject().value("requests").toInt(), int(first->requestsFor(kChatPath).size()));
    QCOMPARE(servers.at(1).toObject().value("url").toString(), secondUrl);
    if (m_servers.size() == 2)
        QCOMPARE(servers.at(1).toObject().value("requests").toInt(), int(m_servers.at(1)->requestsFor(kChatPath).size()));
    if (second == u"answers") {
        // Fewest in flight first: each server took a share, and no image was asked twice.
        QVERIFY(first->requestsFor(kChatPath).size() >= 2);
        QVERIFY(m_servers.at(1)->requestsFor(kChatPath).size() >= 2);
        QCOMPARE(first->requestsFor(kChatPath).size() + m_servers.at(1)->requestsFor(kChatPath).size(), 8);
    } else if (exitCode == 0) {
        QVERIFY(servers.at(1).toObject().value("failed").toInt() >= 1);
        QCOMPARE(servers.at(0).toObject().value("failed").toInt(), 0);
        QCOMPARE(first->requestsFor(kChatPath).size(), 8);
    }

    // One line per image, each naming its image once and the server that settled it.
    const QList<QJsonObject> lines = imageLines(r);
    QCOMPARE(lines.size(), 8);
    QSet<QString> paths;
    for (const QJsonObject &line : lines) {
        paths.insert(line.value("path").toString());
        QCOMPARE(line.value("state").toString(), failed ? QStringLiteral("failed") : QStringLiteral("answered"));
        // An image failed once all servers were down past the timeout may never have been sent.
        const QString server = line.value("server").toString();
        QVERIFY(server == first->baseUrl() || server == secondUrl || (failed && server.isEmpty()));
        if (!failed && second != u"answers")
            QCOMPARE(server, first->baseUrl());   // every image ends at the server that answers
        QVERIFY(line.value("ms").toInt() >= 0);
    }
    QCOMPARE(paths.size(), 8);
    QVERIFY(paths.contains(QStringLiteral("img0.png")));
    QCOMPARE(readPendingFile(m_dir).size(), failed ? 0 : 8);
}

void TestScaleOutCli::firstServerDownAtStart()
{
    addImages(3);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString down = QStringLiteral("http://127.0.0.1:%1/v1").arg(closed.serverPort());
    closed.close();
    FakeOpenAiServer *up = addServer(FakeOpenAiServer::chat(kCat));
    QVERIFY(up);
    // The model list comes from the next server; the one that is down is named and left to rest.
    const CliResult r = runCli({"label", "--server", down, "--server", up->baseUrl(), m_dir});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.json().value("done").toInt(), 3);
    QCOMPARE(r.json().value("failed").toInt(), 0);
    QCOMPARE(up->requestsFor("/v1/models").size(), 1);
    QCOMPARE(up->requestsFor(kChatPath).size(), 3);
    QVERIFY2(r.err.contains(down.toUtf8()), r.err.constData());
    QCOMPARE(readPendingFile(m_dir).size(), 3);
}

void TestScaleOutCli::shardsCoverEachImageOnce()
{
    addImages(30);
    FakeOpenAiServer *server = addServer(FakeOpenAiServer::chat(kCat, 50));
    FakeOpenAiServer *other = addServer(FakeOpenAiServer::chat(kCat, 50));
    QVERIFY(server && other);
    // The local recipe of docs/scale-out.md: shard processes started together against two
    // servers; their results meet in one pending file.
    const int shards = 4;
    QList<std::shared_ptr<QProcess>> processes;
    for (int k = 1; k <= shards; ++k) {
        processes.append(std::make_shared<QProcess>());
        startCli(*processes.last(), {"label", "--server", server->baseUrl(), "--server", other->baseUrl(),
                                     "--concurrency", "2", "--shard", QStringLiteral("%1/%2").arg(k).arg(shards),
                                     "--unlabelled", "--progress", "jsonl", m_dir});
    }
    QStringList labelled;
    int total = 0;
    for (const auto &process : processes) {
        const CliResult r = finishCli(*process);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QList<QJsonObject> lines = imageLines(r);
        for (const QJsonObject &line : lines)
            labelled.append(line.value("path").toString());
        total += jsonLines(r).last().value("total").toInt();
        QVERIFY2(!lines.isEmpty(), "a shard of 30 images got none");
    }
    QCOMPARE(total, 30);
    QCOMPARE(labelled.size(), 30);
    QCOMPARE(QSet<QString>(labelled.cbegin(), labelled.cend()).size(), 30);
    QCOMPARE(server->requestsFor(kChatPath).size() + other->requestsFor(kChatPath).size(), 30);
    QCOMPARE(readPendingFile(m_dir).size(), 30);

    // A shard resumed with --unlabelled asks nothing: each of its images holds a pending result.
    const CliResult again =
        runCli({"label", "--server", server->baseUrl(), "--shard", "2/4", "--unlabelled", m_dir});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.json().value("total").toInt(), 0);
    QCOMPARE(server->requestsFor(kChatPath).size() + other->requestsFor(kChatPath).size(), 30);
}

void TestScaleOutCli::lockOfAnotherHost_data()
{
    QTest::addColumn<qint64>("lockAgeMs");
    QTest::addColumn<bool>("waited");

    QTest::newRow("live: waited for until let go") << qint64(0) << true;
    QTest::newRow("older than its stale time: taken over") << qint64(120000) << false;
}

void TestScaleOutCli::lockOfAnotherHost()
{
    QFETCH(qint64, lockAgeMs);
    QFETCH(bool, waited);
    addImages(2);
    FakeOpenAiServer *server = addServer(FakeOpenAiServer::chat(kCat));
    QVERIFY(server);
    const QString lock = pendingLockPath(m_dir);
    QVERIFY(Fixtures::writeForeignLock(lock, lockAgeMs));
    const int holdMs = 4000;
    if (waited)
        QTimer::singleShot(holdMs, this, [lock] { QFile::remove(lock); });

    QElapsedTimer clock;
    clock.start();
    const CliResult r = runCli({"label", "--server", server->baseUrl(), m_dir});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(readPendingFile(m_dir).size(), 2);
    QVERIFY(!QFileInfo::exists(lock));
    if (waited)
        QVERIFY2(clock.elapsed() >= holdMs - 500, qPrintable(QString::number(clock.elapsed())));
    else
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
}

void TestScaleOutCli::shardUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("shard 0/2") << QStringList{"--shard", "0/2"} << 2;
    QTest::newRow("shard 3/2") << QStringList{"--shard", "3/2"} << 2;
    QTest::newRow("shard without N") << QStringList{"--shard", "1"} << 2;
    QTest::newRow("progress in another form") << QStringList{"--progress", "text"} << 2;
    QTest::newRow("shard 1/1 is the whole folder") << QStringList{"--shard", "1/1"} << 0;
}

void TestScaleOutCli::shardUsage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    addImages(1);
    FakeOpenAiServer *server = addServer(FakeOpenAiServer::chat(kCat));
    QVERIFY(server);
    const CliResult r = runCli(QStringList{"label", "--server", server->baseUrl()} + args + QStringList{m_dir});
    QCOMPARE(r.exitCode, exitCode);
    if (exitCode == 0)
        QCOMPARE(r.json().value("done").toInt(), 1);
}

void TestScaleOutCli::checkOverSeveralServers_data()
{
    QTest::addColumn<QStringList>("servers");   // "answers", "refused" or "ftp" (not a server address)
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("two servers share the review") << QStringList{"answers", "answers"} << QStringList() << 0;
    QTest::newRow("a server refusing connections costs no image")
        << QStringList{"answers", "refused"} << QStringList() << 0;
    QTest::newRow("the first server down at the probe: the next one gives the model list")
        << QStringList{"refused", "answers"} << QStringList() << 0;
    QTest::newRow("every server down: nothing checked") << QStringList{"refused", "refused"} << QStringList() << 1;
    QTest::newRow("a bad second address") << QStringList{"answers", "ftp"} << QStringList() << 2;
    QTest::newRow("concurrency past label's limit")
        << QStringList{"answers", "answers"} << QStringList{"--concurrency", "65"} << 2;
}

void TestScaleOutCli::checkOverSeveralServers()
{
    QFETCH(QStringList, servers);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    // Labelled images the model agrees with: only the servers' failures could make findings.
    const int images = 8;
    for (int i = 0; i < images; ++i) {
        QVERIFY(Fixtures::makeImage(m_dir + QStringLiteral("/img%1.png").arg(i), 1000, 1000));
        QVERIFY(Fixtures::writeBytes(m_tmp->path() + QStringLiteral("/labels/img%1.txt").arg(i), "0 0.5 0.5 0.5 0.5\n"));
    }
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/labels/classes.txt", "cat\n"));
    const FakeOpenAiServer::Answer agrees =
        FakeOpenAiServer::chat(R"([{"label":"cat","bbox_2d":[250,250,750,750],"score":0.9}])", 200);

    QStringList urls;
    QList<FakeOpenAiServer *> fakes;   // per url; null for one that is not listening
    for (const QString &kind : std::as_const(servers)) {
        FakeOpenAiServer *fake = nullptr;
        if (kind == u"answers") {
            fake = addServer(agrees);
            QVERIFY(fake);
            urls.append(fake->baseUrl());
        } else if (kind == u"refused") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            urls.append(QStringLiteral("http://127.0.0.1:%1/v1").arg(closed.serverPort()));
        } else {
            urls.append(QStringLiteral("ftp://127.0.0.1/v1"));
        }
        fakes.append(fake);
    }
    QStringList args{"check"};
    for (const QString &url : std::as_const(urls))
        args << "--server" << url;
    args << "--concurrency" << "2" << "--timeout" << "1";
    const CliResult r = runCli(args + extra + QStringList{m_dir});
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    if (exitCode == 2) {
        // The usage names several servers; nothing was asked of any.
        QVERIFY2(r.err.contains("check [--classes a,b,...] [--server URL [--server URL2 ...]"), r.err.constData());
        QVERIFY(r.lines.isEmpty());
        for (const FakeOpenAiServer *fake : std::as_const(fakes))
            QVERIFY(!fake || fake->requests().isEmpty());
        return;
    }
    // A server down at the probe is named; the next one is probed.
    for (int i = 0; i < urls.size(); ++i) {
        if (!fakes.at(i) && (i == 0 || exitCode == 1))
            QVERIFY2(r.err.contains(urls.at(i).toUtf8()), r.err.constData());
    }
    if (exitCode == 1) {
        QVERIFY(r.lines.isEmpty());
        return;
    }

    // One summary line, "servers" last, the servers in the order they were tried.
    QCOMPARE(r.lines.size(), 1);
    QVERIFY2(r.lines.first().startsWith(R"({"checked":8,"issueImages":0,"issues":0,"reviewed":8,"servers":[)"),
             qPrintable(r.lines.first()));
    const QJsonArray counts = r.json().value("servers").toArray();
    QCOMPARE(counts.size(), urls.size());
    const int firstUp = fakes.at(0) ? 0 : 1;
    QCOMPARE(counts.at(0).toObject().value("url").toString(), urls.at(firstUp));
    QCOMPARE(fakes.at(firstUp)->requestsFor("/v1/models").size(), 1);
    int asked = 0;
    for (const QJsonValue &value : counts) {
        const QJsonObject count = value.toObject();
        const int i = int(urls.indexOf(count.value("url").toString()));
        QVERIFY2(i >= 0, qPrintable(count.value("url").toString()));
        if (!fakes.at(i)) {
            // It was sent its share until it rested: every such request failed.
            QVERIFY(count.value("failed").toInt() >= 1);
            QCOMPARE(count.value("failed").toInt(), count.value("requests").toInt());
            continue;
        }
        const QList<FakeOpenAiServer::Request> chats = fakes.at(i)->requestsFor(kChatPath);
        QCOMPARE(count.value("requests").toInt(), int(chats.size()));
        QCOMPARE(count.value("failed").toInt(), 0);
        asked += int(chats.size());
        // The model is the one the first server that answered lists.
        for (const FakeOpenAiServer::Request &chat : chats)
            QCOMPARE(chat.json().value("model").toString(), QStringLiteral("served-model"));
        if (!fakes.contains(nullptr))
            QVERIFY2(chats.size() >= 2, "a server took no share of the review");
    }
    // Every image asked once, at a server that answered.
    QCOMPARE(asked, images);
}

BRINDLE_TEST_MAIN(TestScaleOutCli)
#include "tst_scaleoutcli.moc"
