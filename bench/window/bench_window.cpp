// Starts the real Brindlemark on a synthetic folder under an X server, steps through images with
// real key presses (xdotool) and prints what a labeller feels, read from the "brindlemark.timing"
// log: launch to first image painted, the time of each step, and the peak memory once every
// thumbnail has arrived. Run: build/bin/bench_window [--images N] [--runs R] [--steps S] [--pause MS]
// Needs Xvfb and xdotool (scripts/packages.txt); starts its own Xvfb when DISPLAY is not set.
#include "benchsupport.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// A JPEG carrying an EXIF orientation tag (6: shown turned by 90 degrees).
QByteArray withOrientation(const QByteArray &jpeg, quint16 orientation)
{
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff += char(orientation >> 8);
    tiff += char(orientation & 0xff);
    tiff += QByteArray(6, '\0');
    const QByteArray payload = QByteArray("Exif\x00\x00", 6) + tiff;
    QByteArray segment("\xff\xe1", 2);
    const quint16 length = quint16(payload.size() + 2);
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += payload;
    QByteArray out = jpeg;
    out.insert(2, segment);
    return out;
}

// Photo-like content: smooth colour fields with grain, so the JPEG decodes like a real photo.
QImage photo(int w, int h, quint32 seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    const int cx = int(rng.bounded(w)), cy = int(rng.bounded(h));
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int d = (std::abs(x - cx) + std::abs(y - cy)) * 255 / (w + h);
            const int grain = int(rng.bounded(40));
            line[x] = qRgb((x * 255 / w + grain) & 255, (y * 255 / h + grain) & 255, (d + grain) & 255);
        }
    }
    return image;
}

bool writeJpeg(const QString &path, const QImage &image, bool rotated)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 88))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(rotated ? withOrientation(jpeg, 6) : jpeg) > 0;
}

// The first 60 images photo-sized (640x480 up to 4000x3000, every fifth EXIF-rotated), the rest
// small so that the folder fits on disk.
bool makeDataset(const QString &dir, int count)
{
    QDir().mkpath(dir);
    if (QDir(dir).entryList({QStringLiteral("*.jpg")}, QDir::Files).size() == count)
        return true;
    say(QStringLiteral("building %1 images in %2 ...").arg(count).arg(dir));
    const QSize sizes[] = {{640, 480}, {1920, 1080}, {3000, 2000}, {4000, 3000}};
    const QImage small = photo(160, 120, 7);
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/img%2.jpg").arg(dir).arg(i + 1, 5, 10, QLatin1Char('0'));
        const bool ok = i < 60 ? writeJpeg(path, photo(sizes[i % 4].width(), sizes[i % 4].height(), quint32(i)), i % 5 == 4)
                               : writeJpeg(path, small, false);
        if (!ok)
            return false;
    }
    return true;
}

bool writePending(const QString &dir, int count)
{
    QJsonObject pending;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/img%2.jpg").arg(dir).arg(i + 1, 5, 10, QLatin1Char('0'));
        QJsonArray records;
        for (int k = 0; k < 3; ++k) {
            records.append(QJsonObject{{QStringLiteral("b"), QJsonArray{10 + 30 * k, 10, 30 + 30 * k, 40}},
                                       {QStringLiteral("c"), 0.8},
                                       {QStringLiteral("d"), 0},
                                       {QStringLiteral("l"), QStringLiteral("car")},
                                       {QStringLiteral("t"), QStringLiteral("r")}});
        }
        pending.insert(path, records);
    }
    QFile file(dir + QStringLiteral("/.brindle_pending.json"));
    return file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(QJsonObject{{QStringLiteral("pending"), pending}, {QStringLiteral("version"), 1}})
                          .toJson(QJsonDocument::Compact))
        > 0;
}

qint64 peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

struct RunFigures
{
    double launchMs = -1;        // process start to first image painted (timing log)
    double launchWallMs = -1;    // the same seen from here (QProcess::start)
    QList<double> steps;         // requested -> painted, per step
    double peakMiB = -1;
};

std::optional<RunFigures> runOnce(const QString &binDir, const QString &dataset, const QStringList &images, int steps,
                                  int pauseMs)
{
    QTemporaryDir home;
    const QProcessEnvironment env = programEnvironment(home.path());

    // A labeller's tray companion is already running; it is not part of the launch.
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(binDir + QStringLiteral("/Brindlehost"), {});
    host.waitForStarted();
    QThread::msleep(500);

    QProcess app;
    app.setProcessEnvironment(env);
    QElapsedTimer wall;
    wall.start();
    app.start(binDir + QStringLiteral("/Brindlemark"), {dataset});
    TimingReader log(&app);
    RunFigures figures;
    auto finish = [&]() -> std::optional<RunFigures> {
        app.terminate();
        app.waitForFinished(5000);
        host.terminate();
        host.waitForFinished(5000);
        return figures;
    };

    const auto first = log.waitFor(QStringLiteral("image painted ") + images.first(), 30000);
    if (!first) {
        say(QStringLiteral("no first image: ") + QString::fromUtf8(app.readAllStandardError()));
        finish();
        return std::nullopt;
    }
    figures.launchMs = first->ms;
    figures.launchWallMs = double(wall.nsecsElapsed()) / 1e6;

    if (!log.waitFor(QStringLiteral("thumbnails done"), 180000))
        say(QStringLiteral("thumbnails did not finish"));

    QString window;
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                  QStringLiteral("^Brindlemark")},
                 &window)) {
        say(QStringLiteral("window not found"));
        finish();
        return std::nullopt;
    }
    window = window.split(QLatin1Char('\n')).last();
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    QThread::msleep(300);

    for (int i = 1; i <= steps && i < images.size(); ++i) {
        xdotool({QStringLiteral("key"), QStringLiteral("Right")});
        const auto requested = log.waitFor(QStringLiteral("image requested ") + images.at(i), 5000);
        const auto painted = requested ? log.waitFor(QStringLiteral("image painted ") + images.at(i), 5000) : std::nullopt;
        if (!requested || !painted) {
            say(QStringLiteral("step %1 was not seen").arg(i));
            break;
        }
        figures.steps.append(painted->ms - requested->ms);
        if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
            say(QStringLiteral("  step %1 %2: %3 ms").arg(i).arg(images.at(i).section(QLatin1Char('/'), -1))
                    .arg(painted->ms - requested->ms, 0, 'f', 1));
        QThread::msleep(ulong(pauseMs));
    }
    figures.peakMiB = double(peakResidentKiB(app.processId())) / 1024.0;
    return finish();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("images"), QStringLiteral("images in the folder"), QStringLiteral("n"), QStringLiteral("10000")},
        {QStringLiteral("runs"), QStringLiteral("runs per figure"), QStringLiteral("n"), QStringLiteral("5")},
        {QStringLiteral("steps"), QStringLiteral("steps per run"), QStringLiteral("n"), QStringLiteral("50")},
        {QStringLiteral("pause"), QStringLiteral("ms between steps, as a person looks"), QStringLiteral("ms"), QStringLiteral("150")},
        {QStringLiteral("dir"), QStringLiteral("dataset folder (kept)"), QStringLiteral("path"),
         QDir::tempPath() + QStringLiteral("/brindlemark-bench-window")},
    });
    parser.process(app);
    const int count = parser.value(QStringLiteral("images")).toInt();
    const int runs = parser.value(QStringLiteral("runs")).toInt();
    const int steps = parser.value(QStringLiteral("steps")).toInt();
    const int pause = parser.value(QStringLiteral("pause")).toInt();
    const QString dataset = parser.value(QStringLiteral("dir"));
    const QString binDir = QCoreApplication::applicationDirPath();

    QProcess xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":97"), QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted()) {
            say(QStringLiteral("Xvfb is needed (scripts/packages.txt)"));
            return 1;
        }
        qputenv("DISPLAY", ":97");
        QThread::msleep(800);
    }

    if (!makeDataset(dataset, count)) {
        say(QStringLiteral("cannot write the dataset"));
        return 1;
    }
    QStringList images;
    for (int i = 0; i < count; ++i)
        images.append(QStringLiteral("%1/img%2.jpg").arg(dataset).arg(i + 1, 5, 10, QLatin1Char('0')));

    for (const bool withPending : {false, true}) {
        QFile::remove(dataset + QStringLiteral("/.brindle_pending.json"));
        if (withPending && !writePending(dataset, count))
            return 1;
        QList<double> launch, launchWall, average, median, worst, memory;
        for (int r = 0; r < runs; ++r) {
            const auto figures = runOnce(binDir, dataset, images, steps, pause);
            if (!figures)
                continue;
            launch.append(figures->launchMs);
            launchWall.append(figures->launchWallMs);
            memory.append(figures->peakMiB);
            QList<double> s = figures->steps;
            if (!s.isEmpty()) {
                std::sort(s.begin(), s.end());
                double sum = 0;
                for (double v : s)
                    sum += v;
                average.append(sum / s.size());
                median.append(s.at(s.size() / 2));
                worst.append(s.last());
            }
            say(QStringLiteral("run %1%2: launch %3 ms (seen from the launcher %4 ms), %5 steps, peak %6 MiB")
                    .arg(r + 1)
                    .arg(withPending ? QStringLiteral(" (all images with pending results)") : QString())
                    .arg(figures->launchMs, 0, 'f', 1)
                    .arg(figures->launchWallMs, 0, 'f', 1)
                    .arg(figures->steps.size())
                    .arg(figures->peakMiB, 0, 'f', 1));
        }
        say(withPending ? QStringLiteral("== %1 images, every one with 3 pending results ==").arg(count)
                        : QStringLiteral("== %1 images ==").arg(count));
        if (!withPending) {
            say(QStringLiteral("launch to first image painted and idle (ms): ") + spread(launch, 1));
            say(QStringLiteral("  the same measured by the launcher (ms):    ") + spread(launchWall, 1));
        }
        say(QStringLiteral("step, average over %1 steps (ms):          ").arg(steps) + spread(average, 1));
        say(QStringLiteral("step, median (ms):                          ") + spread(median, 1));
        say(QStringLiteral("step, worst (ms):                           ") + spread(worst, 1));
        say(QStringLiteral("peak resident memory after thumbnails (MiB): ") + spread(memory, 1));
    }
    QFile::remove(dataset + QStringLiteral("/.brindle_pending.json"));
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished();
    }
    return 0;
}
