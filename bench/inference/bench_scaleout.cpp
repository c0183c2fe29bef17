// Throughput of `brindlemark-cli label` spread over several fake model servers of fixed latency
// and several shard processes on one folder, as a share of the ideal
// (images x latency / requests in flight). Prints figures; never run as a test.
// bench_scaleout [--images N] [--latency MS] [--concurrency N] [--only SxP] [--kill]
// --only 4x4: one configuration (servers x shard processes) instead of 1, 2, 4 of each.
// --kill: also a 4 x 4 run in which one server is shut down a third of the way through.
#include "storage/pendingfile.h"
#include "support/fakeopenaiserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

int option(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    bool ok = false;
    const int value = at >= 0 ? args.value(at + 1).toInt(&ok) : 0;
    return ok && value > 0 ? value : fallback;
}

bool writeImages(const QString &dir, int images)
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(60, 100, 140));
    const QString first = dir + QStringLiteral("/img00000.png");
    if (!image.save(first))
        return false;
    for (int i = 1; i < images; ++i) {
        if (!QFile::copy(first, dir + QStringLiteral("/img%1.png").arg(i, 5, 10, QLatin1Char('0'))))
            return false;
    }
    return true;
}

struct Run
{
    int servers = 1;
    int shards = 1;
    bool kill = false;
};

void run(const Run &r, int images, int latencyMs, int concurrency)
{
    QTemporaryDir dir;
    if (!writeImages(dir.path(), images)) {
        std::printf("cannot write the images\n");
        return;
    }
    std::vector<std::unique_ptr<FakeOpenAiServer>> servers;
    QStringList args{QStringLiteral("label")};
    for (int s = 0; s < r.servers; ++s) {
        auto server = std::make_unique<FakeOpenAiServer>();
        if (!server->listen()) {
            std::printf("cannot listen\n");
            return;
        }
        server->setKeepAlive(true);
        server->setAnswerFor("/v1/models", FakeOpenAiServer::status(200, R"({"data":[{"id":"bench"}]})"));
        server->setDefaultAnswer(FakeOpenAiServer::chat(
            QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]"), latencyMs));
        args << QStringLiteral("--server") << server->baseUrl();
        servers.push_back(std::move(server));
    }
    args << QStringLiteral("--concurrency") << QString::number(concurrency);

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> processes;
    int running = r.shards;
    QEventLoop loop;
    for (int k = 1; k <= r.shards; ++k) {
        auto process = std::make_unique<QProcess>();
        QObject::connect(process.get(), &QProcess::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        process->start(QStringLiteral(BRINDLE_CLI_PATH),
                       args + QStringList{QStringLiteral("--shard"), QStringLiteral("%1/%2").arg(k).arg(r.shards), dir.path()});
        processes.push_back(std::move(process));
    }
    const int inFlight = r.servers * concurrency * r.shards;
    const double ideal = images * (latencyMs / 1000.0) / inFlight;
    int killedRequests = 0;
    if (r.kill) {
        QTimer::singleShot(int(ideal * 1000 / 3), &loop, [&] {
            killedRequests = int(servers.back()->requestsFor("/v1/chat/completions").size());
            servers.back().reset();
        });
    }
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;

    int requests = killedRequests;
    for (const auto &server : servers) {
        if (server)
            requests += int(server->requestsFor("/v1/chat/completions").size());
    }
    int failed = 0;
    int exitCodes = 0;
    for (const auto &process : processes) {
        const QList<QByteArray> lines = process->readAllStandardOutput().trimmed().split('\n');
        failed += QJsonDocument::fromJson(lines.last()).object().value(QStringLiteral("failed")).toInt();
        exitCodes |= process->exitCode();
    }
    const int pending = int(readPendingFile(dir.path()).size());
    std::printf("%d server(s) x %d shard(s)%s: %d images, %d in flight, %d ms each\n", r.servers, r.shards,
                r.kill ? ", one server killed at a third" : "", images, inFlight, latencyMs);
    std::printf("  wall %7.2f s   ideal %7.2f s   share of ideal %.2f   requests %d (%+d)   failed %d   "
                "pending images %d   exit codes %s\n",
                seconds, ideal, ideal / seconds, requests, requests - images, failed, pending,
                exitCodes == 0 ? "all 0" : "not all 0");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int images = option(args, QStringLiteral("--images"), 4000);
    const int latency = option(args, QStringLiteral("--latency"), 200);
    const int concurrency = option(args, QStringLiteral("--concurrency"), 4);
    const QString only = args.value(args.indexOf(QStringLiteral("--only")) + 1);
    const QStringList pair = only.split(QLatin1Char('x'));
    if (args.contains(QStringLiteral("--only")) && pair.size() == 2) {
        run(Run{qMax(1, pair.at(0).toInt()), qMax(1, pair.at(1).toInt()), false}, images, latency, concurrency);
    } else {
        for (int servers : {1, 2, 4}) {
            for (int shards : {1, 2, 4})
                run(Run{servers, shards, false}, images, latency, concurrency);
        }
    }
    if (args.contains(QStringLiteral("--kill")))
        run(Run{4, 4, true}, images, latency, concurrency);
    return 0;
}
