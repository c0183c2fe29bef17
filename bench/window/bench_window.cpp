// Starts the real Brindlemark under an X server on a folder of camera-like photos, steps through
// images with real key presses (xdotool) and prints what a labeller feels, read from the
// "brindlemark.timing" log:
//  - launch: process start to the first image painted and the GUI thread idle;
//  - steps: key presses (Right) from launch on, each sent as soon as the previous step is painted
//    and idle ("back to back", as when holding the key), timed from the moment the X server made
//    the press to painted and idle: mean, median, p90, max per run; the same with a pause between
//    presses; peak resident memory after the steps;
//  - detail: Ctrl+1 on the 12-megapixel first image, key to full detail painted and idle;
//  - with --adjusted, the back-to-back steps once more with the display brightened and its
//    contrast raised (Ctrl+Shift+Up, Ctrl+Shift+Right, twice each) before the first step, and
//    beside them the same after four such keys that end at the default, which start as late.
// The photo folder is made once by the shared generator (make_dataset.py, needs python3-pil) and
// kept in the cache folder; --folder synthetic uses the older folder of small images.
// Run: build/bin/bench_window [--images N] [--runs R] [--steps S] [--pause MS] [--folder camera|synthetic]
//      [--adjusted] [--launch]
// --launch: only the launch, beside the floor's (bench/launch_floor), see launchcomparison.h.
// Needs Xvfb and xdotool (scripts/packages.txt); starts its own Xvfb when DISPLAY is not set.
#include "benchsupport.h"
#include "launchcomparison.h"

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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include <unistd.h>

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

bool writePending(const QString &dir, const QStringList &images)
{
    QJsonObject pending;
    for (const QString &path : images) {
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

// The camera-like folder: made once by the generator into dir (through dir.partial, so that an
// interrupted run leaves no half folder behind), its manifest beside it marking it complete.
bool makeCameraDataset(const QString &dir, int count, const QString &generator)
{
    const QString manifest = dir + QStringLiteral(".manifest.csv");
    if (QFileInfo::exists(manifest) && QFileInfo(dir).isDir())
        return true;
    if (QFileInfo(dir).isDir() && !QDir(dir).isEmpty()) {
        say(QStringLiteral("%1 holds files but no %2: remove it or name another --dir").arg(dir, manifest));
        return false;
    }
    if (!QFileInfo(generator).isFile()) {
        say(QStringLiteral("the folder generator %1 is missing: give --generator or BRINDLE_BENCH_GENERATOR")
                .arg(generator));
        return false;
    }
    const QString partial = dir + QStringLiteral(".partial");
    QDir(partial).removeRecursively();
    QDir().mkpath(QFileInfo(dir).absolutePath());
    say(QStringLiteral("making %1 photos in %2 (once; about 50 ms each on an idle core) ...").arg(count).arg(dir));
    QProcess make;
    make.setProcessChannelMode(QProcess::ForwardedChannels);
    // Its first line names Debian's python3, where python3-pil lives.
    const QStringList args{partial, QStringLiteral("--n"), QString::number(count), QStringLiteral("--manifest"),
                           manifest + QStringLiteral(".partial")};
    if (QFileInfo(generator).isExecutable())
        make.start(generator, args);
    else
        make.start(QStringLiteral("python3"), QStringList{generator} + args);
    if (!make.waitForFinished(-1) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0) {
        say(QStringLiteral("the generator failed"));
        return false;
    }
    QDir().rmdir(dir);
    return QDir().rename(partial, dir) && QFile::rename(manifest + QStringLiteral(".partial"), manifest);
}

// A large folder from a smaller one: the photos of source under their own names, then hard links
// to them named img_<n>.jpg from the source's count on, so that they sort after the photos. The
// generator makes a photo in about a second on this machine, 10,000 in hours; its photo n is the
// same whatever the count, so the first images, the ones stepped through, are those of a
// generated folder of that size.
bool fillWithLinks(const QString &dir, const QString &source, int count)
{
    const QString done = dir + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return true;
    QDir().mkpath(dir);
    const QFileInfoList photos = QDir(source).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    if (photos.isEmpty())
        return false;
    say(QStringLiteral("linking %1 images in %2 to the %3 photos of %4 ...").arg(count).arg(dir).arg(photos.size()).arg(source));
    for (int i = 0; i < count; ++i) {
        const QFileInfo &photo = photos.at(i % photos.size());
        const QString name = i < photos.size() ? photo.fileName() : QStringLiteral("img_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        const QByteArray target = QFile::encodeName(dir + QLatin1Char('/') + name);
        if (QFileInfo::exists(QFile::decodeName(target)))
            continue;
        if (::link(QFile::encodeName(photo.absoluteFilePath()).constData(), target.constData()) != 0) {
            say(QStringLiteral("cannot link %1").arg(QFile::decodeName(target)));
            return false;
        }
    }
    QFile mark(done);
    return mark.open(QIODevice::WriteOnly);
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const qsizetype rank = qsizetype(std::ceil(p * double(values.size())));
    return values.at(std::clamp<qsizetype>(rank - 1, 0, values.size() - 1));
}

double mean(const QList<double> &values)
{
    if (values.isEmpty())
        return -1;
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / double(values.size());
}

enum class RunKind {
    Steps,    // launch, then steps
    Detail,   // launch, then Ctrl+1 on the first image
    Listing,  // launch, then the listing, the state scan and the thumbnails in view, untouched
};

struct RunFigures
{
    double launchMs = -1;        // process start to first image painted and idle (timing log)
    double launchPaintedMs = -1; // process start to first image painted
    double launchWallMs = -1;    // painted and idle, seen from here (QProcess::start)
    QList<double> steps;         // key press to painted and idle, per step
    QList<double> painted;       // key press to painted
    QList<double> requested;     // image requested to painted (the older figure)
    double detailMs = -1;        // Ctrl+1 to full detail painted and idle
    double peakMiB = -1;
    double listedMs = -1;        // process start to the listing done
    double scannedMs = -1;       // to the state scan's end after it
    double longestStallMs = -1;  // the GUI thread's longest piece of work after the launch
};

struct Options
{
    QString binDir;
    QString dataset;
    int steps = 50;
    int pauseMs = 0;
    bool afterThumbnails = false;
    QStringList adjustKeys;   // xdotool keys sent before the steps, each awaited until painted
};

// One key press and the step it causes: the figures, or nullopt when it was not seen.
bool measureStep(TimingReader &log, RunFigures &figures, bool verbose, int index)
{
    xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("0"), QStringLiteral("Right")});
    const auto input = log.waitFor(QStringLiteral("input key Right"), 10000);
    const auto requested = input ? log.waitFor(QStringLiteral("image requested "), 10000) : std::nullopt;
    const auto painted = requested ? log.waitFor(QStringLiteral("image painted "), 10000) : std::nullopt;
    const auto idle = painted ? log.waitFor(QStringLiteral("idle ") + painted->text, 10000) : std::nullopt;
    if (!idle)
        return false;
    figures.steps.append(idle->ms - input->ms);
    figures.painted.append(painted->ms - input->ms);
    figures.requested.append(painted->ms - requested->ms);
    if (verbose)
        say(QStringLiteral("  step %1 %2: key to painted %3 ms, to idle %4 ms")
                .arg(index)
                .arg(painted->text.section(QLatin1Char('/'), -1))
                .arg(painted->ms - input->ms, 0, 'f', 1)
                .arg(idle->ms - input->ms, 0, 'f', 1));
    return true;
}

std::optional<RunFigures> runOnce(const Options &options, RunKind kind)
{
    QTemporaryDir home;
    const QProcessEnvironment env = programEnvironment(home.path());
    const bool verbose = qEnvironmentVariableIsSet("BENCH_VERBOSE");

    // A labeller's tray companion is already running; it is not part of the launch.
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(options.binDir + QStringLiteral("/Brindlehost"), {});
    host.waitForStarted();
    QThread::msleep(500);

    QProcess app;
    app.setProcessEnvironment(env);
    QElapsedTimer wall;
    wall.start();
    app.start(options.binDir + QStringLiteral("/Brindlemark"), {options.dataset});
    TimingReader log(&app);
    RunFigures figures;
    auto finish = [&](bool ok) -> std::optional<RunFigures> {
        app.terminate();
        app.waitForFinished(5000);
        host.terminate();
        host.waitForFinished(5000);
        if (!ok)
            return std::nullopt;
        return figures;
    };

    const auto first = log.waitFor(QStringLiteral("image painted "), 30000);
    const auto firstIdle = first ? log.waitFor(QStringLiteral("idle ") + first->text, 30000) : std::nullopt;
    if (!firstIdle) {
        say(QStringLiteral("no first image: ") + QString::fromUtf8(app.readAllStandardError()));
        return finish(false);
    }
    figures.launchWallMs = double(wall.nsecsElapsed()) / 1e6;
    figures.launchMs = firstIdle->ms;
    figures.launchPaintedMs = first->ms;

    if (options.afterThumbnails && !log.waitFor(QStringLiteral("thumbnails done"), 600000))
        say(QStringLiteral("thumbnails did not finish"));

    QString window;
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                  QStringLiteral("^Brindlemark")},
                 &window)) {
        say(QStringLiteral("window not found"));
        return finish(false);
    }
    window = window.split(QLatin1Char('\n')).last();
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    log.skipAll();

    if (kind == RunKind::Listing) {
        const auto listed = log.waitForAny(QStringLiteral("listing done"), 600000);
        if (!listed) {
            say(QStringLiteral("the listing did not end; the last milestones:\n") + log.tail(12));
            return finish(false);
        }
        figures.listedMs = listed->ms;
        // The scan restarts as the listing grows: its end after the listing's.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 600000 && app.state() == QProcess::Running) {
            const auto scanned = log.latest(QStringLiteral("states done"));
            if (scanned && scanned->ms >= listed->ms) {
                figures.scannedMs = scanned->ms;
                break;
            }
            app.waitForReadyRead(50);
        }
        // The thumbnails in view and what follows settle.
        QThread::msleep(1500);
        figures.longestStallMs = 0;
        static const QRegularExpression stall(QStringLiteral("^stall ([0-9.]+) ms"));
        // Once the first image is shown and the window idle: the launch is timed apart.
        for (const Milestone &m : log.all(QStringLiteral("stall "))) {
            const auto match = stall.match(m.text);
            if (match.hasMatch() && m.ms >= firstIdle->ms)
                figures.longestStallMs = std::max(figures.longestStallMs, match.captured(1).toDouble());
        }
        figures.peakMiB = double(peakResidentKiB(app.processId())) / 1024.0;
        return finish(figures.scannedMs >= 0);
    }

    if (kind == RunKind::Detail) {
        xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("0"), QStringLiteral("ctrl+1")});
        const auto input = log.waitFor(QStringLiteral("input key Ctrl+1"), 10000);
        const auto painted = input ? log.waitFor(QStringLiteral("detail painted ") + first->text.mid(14), 30000)
                                   : std::nullopt;
        const auto idle = painted ? log.waitFor(QStringLiteral("idle ") + painted->text, 10000) : std::nullopt;
        if (!idle) {
            say(QStringLiteral("no full detail after Ctrl+1; the last milestones:\n") + log.tail(12));
            return finish(false);
        }
        figures.detailMs = idle->ms - input->ms;
        return finish(true);
    }

    for (const QString &key : options.adjustKeys) {
        xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("0"), key});
        if (!log.waitFor(QStringLiteral("idle adjustment painted"), 10000)) {
            say(QStringLiteral("%1 did not adjust the image; the last milestones:\n").arg(key) + log.tail(12));
            return finish(false);
        }
    }
    log.skipAll();

    for (int i = 1; i <= options.steps; ++i) {
        if (!measureStep(log, figures, verbose, i)) {
            say(QStringLiteral("step %1 was not seen; the last milestones:\n").arg(i) + log.tail(12));
            return finish(false);
        }
        if (options.pauseMs > 0)
            QThread::msleep(ulong(options.pauseMs));
    }
    figures.peakMiB = double(peakResidentKiB(app.processId())) / 1024.0;
    return finish(true);
}

// Starts an Xvfb of its own; the server picks a free display number and writes it to its stdout.
bool startXvfb(QProcess &xvfb)
{
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp")});
    if (!xvfb.waitForStarted())
        return false;
    QByteArray number;
    while (!number.contains('\n') && xvfb.waitForReadyRead(10000))
        number += xvfb.readAllStandardOutput();
    if (!number.contains('\n'))
        return false;
    qputenv("DISPLAY", ":" + number.trimmed());
    return true;
}

struct Summary
{
    QList<double> launch, launchPainted, launchWall, stepMean, stepMedian, stepP90, stepMax, paintedMedian,
        requestedMean, requestedMax, memory, detail, listed, scanned, stall, listingMemory;

    void add(const RunFigures &f)
    {
        launch.append(f.launchMs);
        launchPainted.append(f.launchPaintedMs);
        launchWall.append(f.launchWallMs);
        if (!f.steps.isEmpty()) {
            stepMean.append(mean(f.steps));
            stepMedian.append(percentile(f.steps, 0.5));
            stepP90.append(percentile(f.steps, 0.9));
            stepMax.append(percentile(f.steps, 1.0));
            paintedMedian.append(percentile(f.painted, 0.5));
            requestedMean.append(mean(f.requested));
            requestedMax.append(percentile(f.requested, 1.0));
            memory.append(f.peakMiB);
        }
        if (f.detailMs >= 0)
            detail.append(f.detailMs);
        if (f.listedMs >= 0) {
            listed.append(f.listedMs);
            scanned.append(f.scannedMs);
            stall.append(f.longestStallMs);
            listingMemory.append(f.peakMiB);
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Launch, step and zoom figures of the real window under Xvfb."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("folder"), QStringLiteral("camera (photos made by the shared generator) or synthetic (small images)"),
         QStringLiteral("kind"), QStringLiteral("camera")},
        {QStringLiteral("images"), QStringLiteral("images in the folder (default 2000 camera, 10000 synthetic)"),
         QStringLiteral("n")},
        {QStringLiteral("runs"), QStringLiteral("runs per figure"), QStringLiteral("n"), QStringLiteral("5")},
        {QStringLiteral("steps"), QStringLiteral("steps per run"), QStringLiteral("n"), QStringLiteral("50")},
        {QStringLiteral("pause"), QStringLiteral("ms between steps in the paused mode, as a person looks"),
         QStringLiteral("ms"), QStringLiteral("150")},
        {QStringLiteral("photos"), QStringLiteral("generate only this many photos and fill the folder up to --images "
                                                  "with hard links to them (the generator takes hours for 10,000)"),
         QStringLiteral("n")},
        {QStringLiteral("dir"), QStringLiteral("dataset folder (made when missing, then kept); default: in the cache folder"),
         QStringLiteral("path")},
        {QStringLiteral("generator"), QStringLiteral("make_dataset.py (default: $BRINDLE_BENCH_GENERATOR, else "
                                                     "../shared/bench/make_dataset.py beside the sources)"),
         QStringLiteral("path")},
        {QStringLiteral("pending"), QStringLiteral("also every figure with 3 pending results on every image")},
        {QStringLiteral("old"), QStringLiteral("also the older method: steps only after every thumbnail, paused")},
        {QStringLiteral("listing"), QStringLiteral("also a run left alone: listing, state scan, thumbnails in view; "
                                                   "the longest GUI stall and peak memory")},
        {QStringLiteral("programs"), QStringLiteral("the folder of the Brindlemark and Brindlehost to measure (default: "
                                                    "beside this benchmark), e.g. an older build for a before/after table"),
         QStringLiteral("dir")},
        {QStringLiteral("check"), QStringLiteral("exit 1 unless every figure was measured (for the test)")},
        {QStringLiteral("adjusted"), QStringLiteral("also the back-to-back steps with brightness and contrast at +20%")},
        {QStringLiteral("launch"), QStringLiteral("only the launch, beside the floor's (launch_floor: a bare Qt window "
                                                  "showing the same first photo), in turns, with their ratio")},
    });
    parser.process(app);
    const bool camera = parser.value(QStringLiteral("folder")) != QStringLiteral("synthetic");
    const int count = parser.isSet(QStringLiteral("images")) ? parser.value(QStringLiteral("images")).toInt()
                                                             : (camera ? 2000 : 10000);
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const bool check = parser.isSet(QStringLiteral("check"));
    Options options;
    options.binDir = parser.isSet(QStringLiteral("programs"))
        ? QFileInfo(parser.value(QStringLiteral("programs"))).absoluteFilePath()
        : QCoreApplication::applicationDirPath();
    options.steps = std::max(1, parser.value(QStringLiteral("steps")).toInt());
    const int pause = std::max(0, parser.value(QStringLiteral("pause")).toInt());
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/brindlemark-bench");
    options.dataset = parser.isSet(QStringLiteral("dir"))
        ? QFileInfo(parser.value(QStringLiteral("dir"))).absoluteFilePath()
        : (camera ? QStringLiteral("%1/camera-%2").arg(cache).arg(count)
                  : QDir::tempPath() + QStringLiteral("/brindlemark-bench-window"));
    QString generator = parser.value(QStringLiteral("generator"));
    if (generator.isEmpty())
        generator = qEnvironmentVariable("BRINDLE_BENCH_GENERATOR");
    if (generator.isEmpty())
        generator = QStringLiteral(BRINDLE_SOURCE_DIR "/../shared/bench/make_dataset.py");

    // 77: skipped, for the test run on a machine without them.
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        say(QStringLiteral("xdotool is needed (scripts/packages.txt)"));
        return check ? 77 : 1;
    }
    QProcess xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && !startXvfb(xvfb)) {
        say(QStringLiteral("Xvfb is needed (scripts/packages.txt)"));
        return check ? 77 : 1;
    }
    auto stopXvfb = [&] {
        if (xvfb.state() != QProcess::NotRunning) {
            xvfb.terminate();
            xvfb.waitForFinished();
        }
    };

    const int photos = parser.isSet(QStringLiteral("photos")) ? parser.value(QStringLiteral("photos")).toInt() : count;
    bool made = false;
    if (camera && photos > 0 && photos < count && !parser.isSet(QStringLiteral("dir"))) {
        const QString source = QStringLiteral("%1/camera-%2").arg(cache).arg(photos);
        options.dataset = QStringLiteral("%1/camera-%2-linked-%3").arg(cache).arg(count).arg(photos);
        made = makeCameraDataset(source, photos, generator) && fillWithLinks(options.dataset, source, count);
    } else {
        made = camera ? makeCameraDataset(options.dataset, count, generator) : makeDataset(options.dataset, count);
    }
    if (!made) {
        say(QStringLiteral("cannot make the dataset"));
        stopXvfb();
        return 1;
    }
    QStringList images;
    const QFileInfoList entries = QDir(options.dataset).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!entry.fileName().startsWith(QLatin1Char('.')))
            images.append(entry.absoluteFilePath());
    }
    say(QStringLiteral("folder %1: %2 images (%3)").arg(options.dataset).arg(images.size())
            .arg(camera ? QStringLiteral("camera-like photos") : QStringLiteral("synthetic, small")));

    bool complete = true;
    if (parser.isSet(QStringLiteral("launch"))) {
        LaunchComparison comparison;
        comparison.binDir = options.binDir;
        comparison.floorProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/launch_floor");
        comparison.dataset = options.dataset;
        comparison.firstImage = firstListedImage(images);
        comparison.runs = runs;
        for (const bool withPending : {false, true}) {
            if (withPending && !parser.isSet(QStringLiteral("pending")))
                break;
            QFile::remove(options.dataset + QStringLiteral("/.brindle_pending.json"));
            if (withPending && !writePending(options.dataset, images)) {
                stopXvfb();
                return 1;
            }
            const qint64 pendingBytes = QFileInfo(options.dataset + QStringLiteral("/.brindle_pending.json")).size();
            comparison.label = QStringLiteral("%1 images").arg(images.size())
                + (withPending ? QStringLiteral(", 3 pending results on every image (%1 KiB)").arg(pendingBytes / 1024)
                               : QString());
            complete = runLaunchComparison(comparison) && complete;
        }
        QFile::remove(options.dataset + QStringLiteral("/.brindle_pending.json"));
        stopXvfb();
        return check && !complete ? 1 : 0;
    }
    for (const bool withPending : {false, true}) {
        if (withPending && !parser.isSet(QStringLiteral("pending")))
            break;
        QFile::remove(options.dataset + QStringLiteral("/.brindle_pending.json"));
        if (withPending && !writePending(options.dataset, images)) {
            stopXvfb();
            return 1;
        }
        const QString suffix = withPending ? QStringLiteral(", every image with 3 pending results") : QString();
        // The modes take turns run by run, so that a busy period of the machine touches them alike.
        struct Mode
        {
            QString name;
            RunKind kind;
            int pauseMs;
            bool afterThumbnails;
            Summary summary;
            QStringList adjustKeys = {};
        };
        QList<Mode> modes{{QStringLiteral("back to back"), RunKind::Steps, 0, false, {}},
                          {QStringLiteral("paused %1 ms").arg(pause), RunKind::Steps, pause, false, {}}};
        if (parser.isSet(QStringLiteral("adjusted"))) {
            // Its like: the same four presses before the first step, ending at the default.
            const QString up = QStringLiteral("ctrl+shift+Up"), down = QStringLiteral("ctrl+shift+Down"),
                          right = QStringLiteral("ctrl+shift+Right");
            modes.append({QStringLiteral("back to back, four adjustment keys back to the default"), RunKind::Steps, 0,
                          false, {}, {up, up, down, down}});
            modes.append({QStringLiteral("back to back, brightness and contrast +20%"), RunKind::Steps, 0, false, {},
                          {up, up, right, right}});
        }
        if (camera)
            modes.append({QStringLiteral("Ctrl+1"), RunKind::Detail, 0, false, {}});
        if (parser.isSet(QStringLiteral("listing")))
            modes.append({QStringLiteral("left alone"), RunKind::Listing, 0, false, {}});
        if (parser.isSet(QStringLiteral("old")))
            modes.append({QStringLiteral("older method (after thumbnails, paused)"), RunKind::Steps, pause, true, {}});
        for (int r = 0; r < runs; ++r) {
            for (Mode &mode : modes) {
                options.pauseMs = mode.pauseMs;
                options.afterThumbnails = mode.afterThumbnails;
                options.adjustKeys = mode.adjustKeys;
                const auto figures = runOnce(options, mode.kind);
                if (!figures) {
                    complete = false;
                    continue;
                }
                mode.summary.add(*figures);
                QString line = QStringLiteral("run %1, %2%3: launch %4 ms (painted %5, seen from the launcher %6)")
                                   .arg(r + 1).arg(mode.name, suffix)
                                   .arg(figures->launchMs, 0, 'f', 1)
                                   .arg(figures->launchPaintedMs, 0, 'f', 1)
                                   .arg(figures->launchWallMs, 0, 'f', 1);
                if (!figures->steps.isEmpty())
                    line += QStringLiteral("; steps mean %1 median %2 p90 %3 max %4 ms; peak %5 MiB")
                                .arg(mean(figures->steps), 0, 'f', 1)
                                .arg(percentile(figures->steps, 0.5), 0, 'f', 1)
                                .arg(percentile(figures->steps, 0.9), 0, 'f', 1)
                                .arg(percentile(figures->steps, 1.0), 0, 'f', 1)
                                .arg(figures->peakMiB, 0, 'f', 1);
                if (figures->detailMs >= 0)
                    line += QStringLiteral("; Ctrl+1 to full detail %1 ms").arg(figures->detailMs, 0, 'f', 1);
                if (figures->listedMs >= 0)
                    line += QStringLiteral("; listing done %1 ms, states %2 ms, longest stall %3 ms; peak %4 MiB")
                                .arg(figures->listedMs, 0, 'f', 1)
                                .arg(figures->scannedMs, 0, 'f', 1)
                                .arg(figures->longestStallMs, 0, 'f', 1)
                                .arg(figures->peakMiB, 0, 'f', 1);
                say(line);
            }
        }
        say(QStringLiteral("== %1 images%2; min / median / max over %3 runs ==").arg(images.size()).arg(suffix).arg(runs));
        const Summary &b2b = modes.at(0).summary;
        say(QStringLiteral("launch to first image painted and idle (ms):   ") + spread(b2b.launch));
        say(QStringLiteral("  to first image painted (ms):                 ") + spread(b2b.launchPainted));
        say(QStringLiteral("  seen from the launcher (ms):                 ") + spread(b2b.launchWall));
        for (const Mode &mode : std::as_const(modes)) {
            const Summary &s = mode.summary;
            if (mode.kind == RunKind::Detail) {
                say(QStringLiteral("Ctrl+1 on the 12 MP first image to full detail painted and idle (ms): ")
                    + spread(s.detail));
                continue;
            }
            if (mode.kind == RunKind::Listing) {
                say(QStringLiteral("-- left alone from launch --"));
                say(QStringLiteral("listing done (ms since start):                  ") + spread(s.listed));
                say(QStringLiteral("state scan done (ms since start):               ") + spread(s.scanned));
                say(QStringLiteral("longest GUI stall after the launch (ms):        ") + spread(s.stall));
                say(QStringLiteral("peak resident memory (MiB):                     ") + spread(s.listingMemory));
                continue;
            }
            say(QStringLiteral("-- %1 steps, %2: key press to painted and idle --").arg(options.steps).arg(mode.name));
            say(QStringLiteral("step mean (ms):                                 ") + spread(s.stepMean));
            say(QStringLiteral("step median (ms):                               ") + spread(s.stepMedian));
            say(QStringLiteral("step p90 (ms):                                  ") + spread(s.stepP90));
            say(QStringLiteral("step max (ms):                                  ") + spread(s.stepMax));
            say(QStringLiteral("  key press to painted, median (ms):           ") + spread(s.paintedMedian));
            say(QStringLiteral("  image requested to painted, mean / max (ms): ") + spread(s.requestedMean)
                + QStringLiteral(" / ") + spread(s.requestedMax));
            say(QStringLiteral("peak resident memory after the steps (MiB):     ") + spread(s.memory));
        }
        for (const Mode &mode : std::as_const(modes)) {
            const qsizetype got = mode.kind == RunKind::Detail    ? mode.summary.detail.size()
                : mode.kind == RunKind::Listing                      ? mode.summary.listed.size()
                                                                     : mode.summary.stepMean.size();
            if (got != runs)
                complete = false;
        }
    }
    QFile::remove(options.dataset + QStringLiteral("/.brindle_pending.json"));
    stopXvfb();
    return check && !complete ? 1 : 0;
}
