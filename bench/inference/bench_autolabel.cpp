// Throughput of a headless auto-label run, and how long the client's thread stalls while requests
// for huge photos are prepared. Prints figures; never run as a test.
// bench_autolabel [--images N] [--concurrency N] [--delay MS] [--close] [--no-stall]
// --close: the server closes every connection after its answer instead of keeping it alive.
#include "inference/requestbuilder.h"
#include "inference/vllmclient.h"
#include "support/fakeopenaiserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

int option(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    bool ok = false;
    const int value = at >= 0 ? args.value(at + 1).toInt(&ok) : 0;
    return ok && value > 0 ? value : fallback;
}

QByteArray smallPng()
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(60, 100, 140));
    for (int x = 0; x < 320; ++x)
        image.setPixelColor(x, (x * 3) % 240, Qt::white);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.png"));
    image.save(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void cliThroughput(int images, int concurrency, int delayMs, bool keepAlive)
{
    QTemporaryDir dir;
    const QByteArray png = smallPng();
    for (int i = 0; i < images; ++i) {
        QFile file(dir.filePath(QStringLiteral("img%1.png").arg(i, 5, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
            std::printf("cannot write the images\n");
            return;
        }
    }
    RequestJob job;
    job.path = dir.filePath(QStringLiteral("img00000.png"));
    job.model = QStringLiteral("bench");
    QElapsedTimer prep;
    prep.start();
    for (int i = 0; i < 50; ++i)
        buildChatRequest(job);
    std::printf("build one request for a 320x240 PNG: %.2f ms\n", prep.nsecsElapsed() / 1e6 / 50);

    FakeOpenAiServer server;
    if (!server.listen()) {
        std::printf("cannot listen\n");
        return;
    }
    server.setKeepAlive(keepAlive);   // as vLLM and llama-server do
    server.setAnswerFor("/v1/models", FakeOpenAiServer::status(200, R"({"data":[{"id":"bench"}]})"));
    server.setDefaultAnswer(FakeOpenAiServer::chat(
        QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]"), delayMs));

    QProcess cli;
    cli.setProcessChannelMode(QProcess::SeparateChannels);
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    qint64 firstChat = -1;
    qint64 lastChat = -1;
    QObject::connect(&server, &FakeOpenAiServer::requestReceived, [&](int index) {
        if (server.requests().at(index).path != "/v1/chat/completions")
            return;
        lastChat = clock.elapsed();
        if (firstChat < 0)
            firstChat = lastChat;
    });
    clock.start();
    cli.start(QStringLiteral(BRINDLE_CLI_PATH),
              {QStringLiteral("label"), QStringLiteral("--server"), server.baseUrl(), QStringLiteral("--concurrency"),
               QString::number(concurrency), dir.path()});
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const qint64 end = clock.elapsed();
    const double ideal = images * (delayMs / 1000.0) / concurrency;
    std::printf("label %d images, concurrency %d, answers after %d ms, connections %s\n", images, concurrency,
                delayMs, keepAlive ? "kept alive" : "closed");
    std::printf("  wall time %8.2f s   ideal %6.2f s   overhead %+6.1f %%   (goal: within 10 %%)\n", seconds, ideal,
                (seconds / ideal - 1.0) * 100.0);
    std::printf("  first request after %lld ms, last request at %.2f s, exit %lld ms after it\n", firstChat,
                lastChat / 1000.0, end - lastChat);
    std::printf("  most requests open at the server: %d, chat requests: %d, exit code %d\n", server.maxOpenRequests(),
                int(server.requestsFor("/v1/chat/completions").size()), cli.exitCode());
    std::printf("  summary: %s\n", cli.readAllStandardOutput().trimmed().constData());
}

// The longest gap between ticks of a 5 ms timer on the client's thread while it starts requests
// for photos that take long to decode.
void stallWhilePreparing()
{
    QTemporaryDir dir;
    QImage photo(12000, 9000, QImage::Format_RGB888);
    photo.fill(QColor(70, 110, 150));
    for (int y = 0; y < photo.height(); y += 97)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixelColor(x, y, QColor(x % 256, y % 256, 40));
    const QString path = dir.filePath(QStringLiteral("108mp.png"));
    photo.save(path);
    photo = QImage();

    FakeOpenAiServer server;
    server.listen();
    server.setDefaultAnswer(FakeOpenAiServer::chat(QStringLiteral("[]"), 50));
    VllmClient client;
    AutoLabelTask task;
    task.paths = QStringList{path, path, path, path};
    task.server.baseUrl = server.baseUrl();
    task.server.concurrency = 2;

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = qMax(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&client, &VllmClient::taskFinished, &loop, &QEventLoop::quit);
    clock.start();
    ticker.start();
    client.startTask(task);
    loop.exec();
    std::printf("4 requests for a 12000x9000 PNG (108 MP), concurrency 2\n");
    std::printf("  run %8.2f s   longest stall of the client's thread %lld ms\n", clock.elapsed() / 1000.0, longest);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    cliThroughput(option(args, QStringLiteral("--images"), 1000), option(args, QStringLiteral("--concurrency"), 16),
                  option(args, QStringLiteral("--delay"), 200), !args.contains(QStringLiteral("--close")));
    if (!args.contains(QStringLiteral("--no-stall")))
        stallWhilePreparing();
    return 0;
}
