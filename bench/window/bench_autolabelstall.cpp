// Pre-labels a folder of photos (up to 4000x3000) in the real main window, in this process, and
// prints the longest stall of the GUI thread during the run. A 2 ms timer on the GUI thread
// measures it: a stall is the gap between two ticks minus the interval. A small HTTP server on its
// own thread answers like a vision model, after a delay, with a few boxes.
// Run: build/bin/bench_autolabelstall [--images N] [--runs R] [--delay MS] [--boxes K] [--top T]
//      [--offscreen]
// Starts its own Xvfb when DISPLAY is not set, unless --offscreen.
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "shared/theme.h"
#include "ui/autolabeldialog.h"
#include "ui/filelistpanel.h"
#include "session/foldersession.h"
#include "ui/mainwindow.h"

#include "benchsupport.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

// Photo-like content: smooth colour fields with grain, so the JPEG decodes like a real photo.
QImage photo(int w, int h, quint32 seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int grain = int(rng.bounded(40));
            line[x] = qRgb((x * 255 / w + grain) & 255, (y * 255 / h + grain) & 255, ((x + y) * 255 / (w + h)) & 255);
        }
    }
    return image;
}

QStringList makeDataset(const QString &dir, int count)
{
    QDir().mkpath(dir);
    const QSize sizes[] = {{640, 480}, {1920, 1080}, {3000, 2000}, {4000, 3000}};
    QStringList paths;
    bool announced = false;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/img%2.jpg").arg(dir).arg(i + 1, 4, 10, QLatin1Char('0'));
        paths.append(path);
        if (QFileInfo::exists(path))
            continue;
        if (!announced) {
            say(QStringLiteral("building %1 images in %2 ...").arg(count).arg(dir));
            announced = true;
        }
        const QSize size = sizes[i % 4];
        if (!photo(size.width(), size.height(), quint32(i)).save(path, "JPEG", 88))
            return {};
    }
    return paths;
}

// Answers GET /v1/models at once and every chat completion after a delay with a few boxes, on
// kept-alive connections, as llama-server does. Lives on its own thread; remembers nothing.
class ModelServer : public QObject
{
public:
    ModelServer(int delayMs, int boxes) : m_delayMs(delayMs), m_boxes(boxes) {}

    bool listen()
    {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    m_buffers.remove(socket);
                    socket->deleteLater();
                });
            }
        });
        return m_server->listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server->serverPort(); }

private:
    void onReadyRead(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QByteArray head = buffer.left(headerEnd).toLower();
            qsizetype length = 0;
            const qsizetype at = head.indexOf("content-length:");
            if (at >= 0)
                length = head.mid(at + 15, head.indexOf('\n', at) - at - 15).trimmed().toLongLong();
            if (buffer.size() < headerEnd + 4 + length)
                return;
            const bool chat = head.contains("/chat/completions");
            buffer.remove(0, headerEnd + 4 + length);
            if (!chat) {
                respond(socket, R"({"object":"list","data":[{"id":"bench-vl"}]})");
                continue;
            }
            const QByteArray body = chatBody();
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(m_delayMs, Qt::PreciseTimer, this, [this, guard, body] {
                if (guard)
                    respond(guard, body);
            });
        }
    }

    QByteArray chatBody()
    {
        static const char *labels[] = {"car", "person", "dog", "bicycle", "cat"};
        QJsonArray boxes;
        for (int i = 0; i < m_boxes; ++i) {
            const int x = int(m_rng.bounded(800));
            const int y = int(m_rng.bounded(800));
            boxes.append(QJsonObject{{QStringLiteral("label"), QLatin1String(labels[m_rng.bounded(5)])},
                                     {QStringLiteral("bbox_2d"), QJsonArray{x, y, x + 50 + int(m_rng.bounded(150)),
                                                                            y + 50 + int(m_rng.bounded(150))}},
                                     {QStringLiteral("score"), 0.5 + m_rng.bounded(0.5)}});
        }
        const QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                                  {QStringLiteral("content"),
                                   QString::fromUtf8(QJsonDocument(boxes).toJson(QJsonDocument::Compact))}};
        const QJsonObject answer{{QStringLiteral("choices"),
                                  QJsonArray{QJsonObject{{QStringLiteral("index"), 0}, {QStringLiteral("message"), message}}}}};
        return QJsonDocument(answer).toJson(QJsonDocument::Compact);
    }

    static void respond(QTcpSocket *socket, const QByteArray &body)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: keep-alive\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QRandomGenerator m_rng{42};
    int m_delayMs;
    int m_boxes;
};

// Gaps between the ticks of a 2 ms timer on the GUI thread.
class StallMonitor : public QObject
{
public:
    static constexpr int kIntervalMs = 2;

    StallMonitor()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_stalls.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop()
    {
        tick();
        m_timer.stop();
    }
    struct Stall
    {
        double atMs;
        double ms;
    };
    // Largest first.
    QList<Stall> stalls() const
    {
        QList<Stall> sorted = m_stalls;
        std::sort(sorted.begin(), sorted.end(), [](const Stall &a, const Stall &b) { return a.ms > b.ms; });
        return sorted;
    }
    double longest() const { return m_stalls.isEmpty() ? 0.0 : stalls().first().ms; }
    int countAbove(double ms) const
    {
        return int(std::count_if(m_stalls.cbegin(), m_stalls.cend(), [ms](const Stall &s) { return s.ms > ms; }));
    }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double gap = double(now - m_last) / 1e6;
        // Only gaps worth naming are kept; a tick on time is no stall.
        if (gap - kIntervalMs > 4.0)
            m_stalls.append({double(m_last) / 1e6, gap - kIntervalMs});
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QList<Stall> m_stalls;
};

// With --trace: every event delivery on the GUI thread during a run that took over 8 ms, with its
// receiver and the CPU time it used, to find where a stall comes from.
class TracingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    struct Slow
    {
        double ms;
        QString what;
    };
    bool traceRequested = false;
    bool tracing = false;   // during a run only
    QList<Slow> slow;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!tracing || m_depth > 0 || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        ++m_depth;
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = threadCpuMs();
        const QString what = QStringLiteral("%1 \"%2\" event %3")
                                 .arg(QLatin1String(receiver->metaObject()->className()), receiver->objectName())
                                 .arg(int(event->type()));
        const bool result = QApplication::notify(receiver, event);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        const double cpu = threadCpuMs() - cpuStart;
        --m_depth;
        if (ms > 8.0)
            slow.append({ms, QStringLiteral("%1 (%2 ms on the CPU)").arg(what).arg(cpu, 0, 'f', 1)});
        return result;
    }

private:
    static double threadCpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }

    int m_depth = 0;
};

template <typename T>
T *withText(QWidget *root, const char *source)
{
    const auto widgets = root->findChildren<T *>();
    for (T *w : widgets) {
        if (w->text() == translateText(source))
            return w;
    }
    return nullptr;
}

// Starts a pre-label run of every image through the toolbar action, answering the dialog.
void startRun(MainWindow &window)
{
    auto *answer = new QTimer;
    QObject::connect(answer, &QTimer::timeout, answer, [answer, &window] {
        // Drawn inside the window, not a window of its own.
        auto *dialog = window.findChild<AutoLabelDialog *>();
        if (!dialog || !dialog->isVisible())
            return;
        answer->stop();
        answer->deleteLater();
        dialog->findChild<QTabWidget *>()->setCurrentIndex(0);
        withText<QRadioButton>(dialog, "当前目录全部图片")->click();
        withText<QRadioButton>(dialog, "插入为 ⚡ 待确认（推荐）")->click();
        withText<QPushButton>(dialog, "开始")->click();
    });
    answer->start(20);
    window.actions().autoLabel->trigger();
}

// Runs the event loop, as the program's own loop does, until the condition holds.
bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return condition();
}

struct RunFigures
{
    double longestMs = 0;
    double idleLongestMs = 0;
    int above16 = 0;
    double seconds = 0;
    QList<StallMonitor::Stall> top;
};

std::optional<RunFigures> runOnce(const QString &dir, const QStringList &images, quint16 port, int top)
{
    QFile::remove(dir + QStringLiteral("/.brindle_pending.json"));
    {
        QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
        s.clear();
        s.setValue(QStringLiteral("model/base"), QStringLiteral("http://127.0.0.1:%1/v1").arg(port));
    }
    RunFigures figures;
    MainWindow window(dir);
    bool thumbnailsDone = false;
    QObject::connect(window.fileList(), &FileListPanel::thumbnailsFinished, &window, [&] { thumbnailsDone = true; });
    window.show();
    if (!waitFor([&] { return window.currentImagePath() == images.first() && !window.session()->isListing(); }, 30000)) {
        say(QStringLiteral("the folder did not open"));
        return std::nullopt;
    }
    waitFor([&] { return thumbnailsDone; }, 120000);

    StallMonitor monitor;
    monitor.start();
    waitFor([&] { return monitor.elapsedMs() > 1000; }, 5000);
    monitor.stop();
    figures.idleLongestMs = monitor.longest();

    bool finished = false;
    auto *app = static_cast<TracingApplication *>(qApp);
    QObject::connect(window.client(), &VllmClient::busyChanged, &window, [&, app](bool busy) {
        if (busy) {
            monitor.start();
            app->tracing = app->traceRequested;
        }
    });
    QObject::connect(window.client(), &VllmClient::taskFinished, &window, [&] { finished = true; });
    startRun(window);
    if (!waitFor([&] { return finished; }, 600000)) {
        say(QStringLiteral("the run did not end"));
        return std::nullopt;
    }
    // What the window does right after the end (the pending file, the panels) counts too.
    const double end = monitor.elapsedMs();
    waitFor([&] { return monitor.elapsedMs() > end + 300; }, 5000);
    monitor.stop();
    app->tracing = false;
    figures.seconds = end / 1000.0;
    figures.longestMs = monitor.longest();
    figures.above16 = monitor.countAbove(16.0);
    figures.top = monitor.stalls().mid(0, top);
    return figures;
}

pid_t startXvfb()
{
    const char *display = ":98";
    char *args[] = {const_cast<char *>("Xvfb"), const_cast<char *>(display), const_cast<char *>("-screen"),
                    const_cast<char *>("0"), const_cast<char *>("1280x800x24"), const_cast<char *>("-nolisten"),
                    const_cast<char *>("tcp"), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, args, environ) != 0)
        return 0;
    for (int i = 0; i < 100 && !QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X98")); ++i)
        usleep(50000);
    qputenv("DISPLAY", display);
    return pid;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("images"), QStringLiteral("images in the folder"), QStringLiteral("n"), QStringLiteral("200")},
        {QStringLiteral("runs"), QStringLiteral("runs"), QStringLiteral("n"), QStringLiteral("5")},
        {QStringLiteral("delay"), QStringLiteral("ms the model takes per image"), QStringLiteral("ms"), QStringLiteral("40")},
        {QStringLiteral("boxes"), QStringLiteral("boxes per answer"), QStringLiteral("n"), QStringLiteral("3")},
        {QStringLiteral("top"), QStringLiteral("stalls listed per run"), QStringLiteral("n"), QStringLiteral("5")},
        {QStringLiteral("offscreen"), QStringLiteral("no X server: the offscreen platform")},
        {QStringLiteral("trace"), QStringLiteral("list the event deliveries that took over 8 ms")},
        {QStringLiteral("dir"), QStringLiteral("dataset folder (kept)"), QStringLiteral("path"),
         QDir::tempPath() + QStringLiteral("/brindlemark-bench-stall")},
    });
    parser.parse(arguments);

    // A private HOME: the window reads and writes its settings there.
    QTemporaryDir home;
    for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString path = home.path() + QLatin1Char('/') + QLatin1String(var);
        QDir().mkpath(path);
        qputenv(var, QFile::encodeName(path));
    }
    QFile::setPermissions(home.path() + QStringLiteral("/XDG_RUNTIME_DIR"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    pid_t xvfb = 0;
    if (parser.isSet(QStringLiteral("offscreen")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (qEnvironmentVariableIsEmpty("DISPLAY") && (xvfb = startXvfb()) == 0) {
        say(QStringLiteral("Xvfb is needed (or --offscreen)"));
        return 1;
    }

    int code = 0;
    {
        TracingApplication app(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("Brindlemark"));
        QApplication::setApplicationName(QStringLiteral("Brindlemark"));
        setLanguage(QStringLiteral("zh_CN"));
        installStyleSheet(QStringLiteral(":/theme/style.qss"));
        installDarkPalette();

        const int count = parser.value(QStringLiteral("images")).toInt();
        const int runs = parser.value(QStringLiteral("runs")).toInt();
        const int delay = parser.value(QStringLiteral("delay")).toInt();
        const int boxes = parser.value(QStringLiteral("boxes")).toInt();
        const int top = parser.value(QStringLiteral("top")).toInt();
        const QString dir = parser.value(QStringLiteral("dir"));
        const QStringList images = makeDataset(dir, count);
        if (images.size() != count) {
            say(QStringLiteral("cannot write the dataset"));
            code = 1;
        }

        QThread serverThread;
        auto *server = new ModelServer(delay, boxes);
        server->moveToThread(&serverThread);
        QObject::connect(&serverThread, &QThread::finished, server, &QObject::deleteLater);
        serverThread.start();
        bool listening = false;
        QMetaObject::invokeMethod(server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
        if (!listening) {
            say(QStringLiteral("cannot listen"));
            code = 1;
        }

        QList<double> longest, idle, seconds;
        for (int r = 0; r < runs && code == 0; ++r) {
            app.traceRequested = parser.isSet(QStringLiteral("trace"));
            app.slow.clear();
            const auto figures = runOnce(dir, images, server->port(), top);
            if (!figures) {
                code = 1;
                break;
            }
            longest.append(figures->longestMs);
            idle.append(figures->idleLongestMs);
            seconds.append(figures->seconds);
            QStringList where;
            for (const StallMonitor::Stall &s : figures->top)
                where.append(QStringLiteral("%1 ms at %2 s").arg(s.ms, 0, 'f', 1).arg(s.atMs / 1000.0, 0, 'f', 2));
            say(QStringLiteral("run %1: %2 images in %3 s, longest stall %4 ms, %5 stalls over 16 ms (idle before: %6 ms)")
                    .arg(r + 1)
                    .arg(count)
                    .arg(figures->seconds, 0, 'f', 1)
                    .arg(figures->longestMs, 0, 'f', 1)
                    .arg(figures->above16)
                    .arg(figures->idleLongestMs, 0, 'f', 1));
            say(QStringLiteral("  largest: ") + where.join(QStringLiteral(", ")));
            std::sort(app.slow.begin(), app.slow.end(),
                      [](const TracingApplication::Slow &a, const TracingApplication::Slow &b) { return a.ms > b.ms; });
            for (const TracingApplication::Slow &s : app.slow.mid(0, top))
                say(QStringLiteral("  slow event %1 ms: %2").arg(s.ms, 0, 'f', 1).arg(s.what));
        }
        serverThread.quit();
        serverThread.wait();
        if (code == 0) {
            say(QStringLiteral("== %1 images up to 4000x3000, model answers after %2 ms with %3 boxes, %4 runs ==")
                    .arg(count)
                    .arg(delay)
                    .arg(boxes)
                    .arg(runs));
            say(QStringLiteral("longest GUI-thread stall during the run (ms): ") + spread(longest) + QStringLiteral("  (goal: under 16)"));
            say(QStringLiteral("longest stall in 1 s idle before it (ms):    ") + spread(idle));
            say(QStringLiteral("run time (s):                                ") + spread(seconds));
        }
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return code;
}
