// Storage figures on a synthetic dataset in a temporary directory. Prints a table; asserts nothing.
//   bench_storage [--images N] [--photos N] [--scan-only]
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "storage/filestatescanner.h"
#include "storage/thumbloader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void row(const char *what, const QString &value, const QString &note = QString())
{
    std::printf("%-52s %14s  %s\n", what, qPrintable(value), qPrintable(note));
    std::fflush(stdout);
}

// A photo-like 4000x3000 JPEG. Scaled decoding still has to entropy-decode the whole file, so
// the gain depends on the detail: few shapes give a small file, many a large one.
QByteArray makePhoto(int shapes)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 4000, 3000);
    gradient.setColorAt(0, QColor(30, 90, 160));
    gradient.setColorAt(1, QColor(220, 180, 90));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(7);
    for (int i = 0; i < shapes; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate()));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(random.bounded(4000), random.bounded(3000)), random.bounded(5, 80),
                            random.bounded(5, 80));
    }
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double listingMs(const QString &dir, int *count)
{
    DirectoryLoader loader;
    QEventLoop loop;
    int received = 0;
    QObject::connect(&loader, &DirectoryLoader::chunkReady, &loop,
                     [&](const QString &, const QStringList &paths) { received += int(paths.size()); });
    QObject::connect(&loader, &DirectoryLoader::done, &loop, [&](const QString &, const QStringList &all) {
        *count = int(all.size());
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    loader.load(dir);
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

// CPU time of the whole process: on a shared machine it varies far less than the clock on the wall.
double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// countAnnotations per CPU second on this thread, the best of five passes: the state scanner's
// own work with the least disturbance from other programs.
double countRate(const QStringList &images)
{
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        const double start = threadCpuSeconds();
        for (const QString &image : images)
            countAnnotations(image);
        best = std::max(best, images.size() / (threadCpuSeconds() - start));
    }
    return best;
}

// States per second of one full pass of the state scanner over images, by the wall clock and
// per CPU second (the worker and the receiving thread together); labelled receives the number of
// images whose labels were found.
double scanRate(const QStringList &images, int *labelled, double *perCpuSecond)
{
    FileStateScanner scanner;
    QEventLoop loop;
    qsizetype received = 0;
    *labelled = 0;
    QObject::connect(&scanner, &FileStateScanner::stateReady, &loop, [&](const QString &, int confirmed) {
        *labelled += confirmed > 0;
        if (++received == images.size())
            loop.quit();
    });
    QElapsedTimer timer;
    const double cpuStart = processCpuSeconds();
    timer.start();
    scanner.restart(images);
    loop.exec();
    *perCpuSecond = received / (processCpuSeconds() - cpuStart);
    return received / (timer.nsecsElapsed() / 1e9);
}

// Our VOC layout and the layouts other tools leave behind, each with count images of three
// labelled objects.
// Returns the image folder.
QString makeLayout(const QString &root, const QString &kind, int count, const QByteArray &png)
{
    const QByteArray yolo = "0 0.5 0.5 0.2 0.2\n1 0.3 0.3 0.1 0.1\n2 0.7 0.7 0.1 0.1\n";
    QByteArray voc = "<annotation><folder>x</folder><size><width>64</width><height>48</height></size>";
    for (int i = 0; i < 3; ++i)
        voc += "<object><name>a</name><bndbox><xmin>1</xmin><ymin>1</ymin><xmax>9</xmax><ymax>9</ymax>"
               "</bndbox></object>";
    voc += "</annotation>\n";

    QString images = root + "/images";
    QString labels = images;  // the label of image B is labels + "/B" + suffix
    QByteArray content = yolo;
    QString suffix = ".txt";
    if (kind == u"ours-voc") {
        labels = images + "/annotations";
        content = voc;
        suffix = ".xml";
    } else if (kind == u"voc-devkit") {
        images = root + "/JPEGImages";
        labels = root + "/Annotations";
        content = voc;
        suffix = ".xml";
    } else if (kind == u"voc-beside") {
        content = voc;
        suffix = ".xml";
    } else if (kind == u"yolo-1.1") {
        images = root + "/obj_train_data";
        labels = images;
        QDir().mkpath(root);
        writeFile(root + "/obj.names", "a\nb\nc\n");
    } else if (kind == u"ultralytics") {
        images = root + "/images/train";
        labels = root + "/labels/train";
        QDir().mkpath(root);
        writeFile(root + "/data.yaml", "path: .\ntrain: images/train\nnames:\n  0: a\n  1: b\n  2: c\n");
    }
    QDir().mkpath(images);
    QDir().mkpath(labels);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("img%1").arg(i);
        writeFile(images + "/" + name + ".png", png);
        writeFile(labels + "/" + name + suffix, content);
    }
    return images;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int imageCount = 10000;
    int photoCount = 24;
    bool scanOnly = false;
    const QStringList args = app.arguments();
    scanOnly = args.contains(QStringLiteral("--scan-only"));
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--images")
            imageCount = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--photos")
            photoCount = std::max(1, args[i + 1].toInt());
    }

    QTemporaryDir tmp;
    const QString dataset = tmp.path() + "/images";
    QDir().mkpath(dataset);
    QDir().mkpath(tmp.path() + "/labels");

    // Small images with YOLO files: the listing and state-scan set.
    QImage tiny(64, 48, QImage::Format_RGB32);
    tiny.fill(Qt::darkCyan);
    QByteArray tinyPng;
    {
        QBuffer buffer(&tinyPng);
        buffer.open(QIODevice::WriteOnly);
        tiny.save(&buffer, "PNG");
    }
    const QByteArray labelLines = "0 0.5 0.5 0.2 0.2\n1 0.3 0.3 0.1 0.1\n2 0.7 0.7 0.1 0.1\n";
    for (int i = 0; i < imageCount; ++i) {
        const QString name = QStringLiteral("img%1").arg(i);
        writeFile(dataset + "/" + name + (i % 2 ? ".png" : ".JPG"), tinyPng);
        writeFile(tmp.path() + "/labels/" + name + ".txt", labelLines);
    }
    writeFile(tmp.path() + "/labels/classes.txt", "a\nb\nc\n");

    std::printf("Storage benchmark: %d images, %d photos of 4000x3000, %d cores\n\n", imageCount, photoCount,
                QThread::idealThreadCount());
    std::printf("%-52s %14s  %s\n", "measure", "figure", "note");

    if (!scanOnly) {
        // Listing to done, including the chunk pauses and delivery to this thread.
        std::vector<double> listing;
        int listed = 0;
        for (int run = 0; run < 5; ++run)
            listing.push_back(listingMs(dataset, &listed));
        row("listing to done (median of 5)", QString::number(median(listing), 'f', 1) + " ms",
            QStringLiteral("%1 images, goal < 300 ms").arg(listed));
        std::vector<double> sorting;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QStringList paths = DirectoryLoader::listImages(dataset);
            sorting.push_back(timer.nsecsElapsed() / 1e6);
        }
        // Chunks start small and double up to the largest size.
        int chunks = 0;
        for (qsizetype offset = 0, size = DirectoryLoader::ChunkSize; offset < listed;
             offset += size, size = std::min<qsizetype>(size * 2, DirectoryLoader::MaxChunkSize))
            ++chunks;
        row("  of which list + sort (median of 5)", QString::number(median(sorting), 'f', 1) + " ms",
            QStringLiteral("the rest is %1 chunk pauses of 10 ms").arg(std::max(0, chunks - 1)));
    }

    // State scan: all images through the worker, results received here; our layout, then the
    // layouts of other tools. Median of five passes each.
    double oursRate = 0;
    double oursCpuRate = 0;
    double oursCountRate = 0;
    const QStringList layouts = {"ours", "ours-voc", "voc-devkit", "voc-beside", "yolo-1.1", "ultralytics"};
    for (const QString &kind : layouts) {
        const QString dir = kind == u"ours" ? dataset
                                            : makeLayout(tmp.path() + "/" + kind, kind, imageCount, tinyPng);
        const QStringList all = DirectoryLoader::listImages(dir);
        std::vector<double> rates;
        std::vector<double> cpuRates;
        int labelled = 0;
        for (int run = 0; run < 5; ++run) {
            double cpuRate = 0;
            rates.push_back(scanRate(all, &labelled, &cpuRate));
            cpuRates.push_back(cpuRate);
        }
        const double rate = median(rates);
        const double cpuRate = median(cpuRates);
        const double counts = countRate(all);
        if (kind == u"ours") {
            oursRate = rate;
            oursCpuRate = cpuRate;
            oursCountRate = counts;
        }
        row(qPrintable(QStringLiteral("states per second, %1 (median of 5)").arg(kind)),
            QString::number(rate, 'f', 0) + " /s",
            QStringLiteral("labels found for %1 of %2").arg(labelled).arg(all.size()));
        QString note;
        if (kind != u"ours")
            note = QStringLiteral("%1 % of our layout by the clock, %2 % per CPU second")
                       .arg(100.0 * rate / oursRate, 0, 'f', 0)
                       .arg(100.0 * cpuRate / oursCpuRate, 0, 'f', 0);
        row("  per CPU second", QString::number(cpuRate, 'f', 0) + " /s", note);
        row("  countAnnotations per CPU second (best of 5)", QString::number(counts, 'f', 0) + " /s",
            kind == u"ours" ? QString()
                            : QStringLiteral("%1 % of our layout").arg(100.0 * counts / oursCountRate, 0, 'f', 0));
    }
    if (scanOnly)
        return 0;

    // Thumbnails: scaled decode against full decode + resize of the same files, for a plain and a
    // detailed photo.
    const QString photos = tmp.path() + "/photos";
    QDir().mkpath(photos);
    QStringList photoPaths;
    for (const int shapes : {40, 4000}) {
        const QByteArray photo = makePhoto(shapes);
        photoPaths.clear();
        for (int i = 0; i < photoCount; ++i) {
            photoPaths.append(photos + QStringLiteral("/s%1-%2.jpg").arg(shapes).arg(i));
            writeFile(photoPaths.last(), photo);
        }
        ThumbLoader::decodeThumbnail(photoPaths.first()); // loads the plugin
        QElapsedTimer timer;
        timer.start();
        int decoded = 0;
        for (const QString &path : std::as_const(photoPaths))
            decoded += ThumbLoader::decodeThumbnail(path).isNull() ? 0 : 1;
        const double scaled = decoded / (timer.nsecsElapsed() / 1e9);

        timer.restart();
        int full = 0;
        for (const QString &path : std::as_const(photoPaths)) {
            QImageReader reader(path);
            reader.setAutoTransform(true);
            reader.setAllocationLimit(0);
            const QImage image = reader.read();
            const QImage thumb = image.scaled(ThumbLoader::targetSize(image.size()), Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation);
            full += thumb.isNull() ? 0 : 1;
        }
        const double fullRate = full / (timer.nsecsElapsed() / 1e9);
        const QString kind = QStringLiteral("%1 KB JPEG").arg(photo.size() / 1024);
        row(qPrintable(QStringLiteral("thumbnails/s, scaled decode, %1").arg(kind)),
            QString::number(scaled, 'f', 1) + " /s", QStringLiteral("%1 files").arg(decoded));
        row(qPrintable(QStringLiteral("thumbnails/s, full decode + resize, %1").arg(kind)),
            QString::number(fullRate, 'f', 1) + " /s");
        row("  ratio", QString::number(scaled / fullRate, 'f', 1) + " x", QStringLiteral("goal >= 5 x"));
    }

    // One image with 500 objects, in each format.
    {
        const QString image = photoPaths.first();
        QList<Annotation> objects;
        QRandomGenerator random(11);
        for (int i = 0; i < 500; ++i) {
            Annotation a;
            a.label = QStringLiteral("class%1").arg(i % 20);
            if (i % 5 == 0) {
                a.kind = Annotation::Polygon;
                for (int p = 0; p < 8; ++p)
                    a.points.append(QPointF(random.bounded(4000.0), random.bounded(3000.0)));
            } else {
                a.rect = QRectF(random.bounded(3900.0), random.bounded(2900.0), 50 + random.bounded(100.0),
                                50 + random.bounded(100.0));
            }
            a.confidence = i % 2 ? 0.75 : -1.0;
            objects.append(a);
        }
        for (const bool yolo : {false, true}) {
            std::vector<double> saves;
            std::vector<double> loads;
            qsizetype loaded = 0;
            for (int run = 0; run < 9; ++run) {
                QElapsedTimer timer;
                timer.start();
                saveAnnotations(image, objects, yolo, {});
                saves.push_back(timer.nsecsElapsed() / 1e6);
                timer.restart();
                loaded = loadAnnotations(image).size();
                loads.push_back(timer.nsecsElapsed() / 1e6);
            }
            const char *format = yolo ? "YOLO" : "VOC";
            row(qPrintable(QStringLiteral("%1 save, 500 objects (median of 9)").arg(format)),
                QString::number(median(saves), 'f', 2) + " ms");
            row(qPrintable(QStringLiteral("%1 load, 500 objects (median of 9)").arg(format)),
                QString::number(median(loads), 'f', 2) + " ms", QStringLiteral("%1 objects read").arg(loaded));
        }
    }
    return 0;
}
