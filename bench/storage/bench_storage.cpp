// Storage figures on a synthetic dataset in a temporary directory. Prints a table; asserts nothing.
//   bench_storage [--images N] [--photos N]
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int imageCount = 10000;
    int photoCount = 24;
    const QStringList args = app.arguments();
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
    row("  of which list + sort (median of 5)", QString::number(median(sorting), 'f', 1) + " ms",
        QStringLiteral("the rest is %1 chunk pauses of 10 ms")
            .arg((listed + DirectoryLoader::ChunkSize - 1) / DirectoryLoader::ChunkSize - 1));

    // State scan: all images through the worker, results received here.
    {
        FileStateScanner scanner;
        QEventLoop loop;
        int received = 0;
        QObject::connect(&scanner, &FileStateScanner::stateReady, &loop, [&](const QString &, int) {
            if (++received == listed)
                loop.quit();
        });
        const QStringList all = DirectoryLoader::listImages(dataset);
        QElapsedTimer timer;
        timer.start();
        scanner.restart(all);
        loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        row("states per second", QString::number(received / seconds, 'f', 0) + " /s",
            QStringLiteral("%1 images with YOLO files in %2 ms").arg(received).arg(seconds * 1000, 0, 'f', 1));
    }

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
