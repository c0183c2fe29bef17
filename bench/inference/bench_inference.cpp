// Parsing and request-preparation figures of the inference client; prints, never run as a test.
// bench_inference [--parse-only]
#include "inference/detectionparser.h"
#include "inference/requestbuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

struct Figures
{
    double best = 0;
    double median = 0;
};

Figures measure(int runs, const std::function<void()> &work)
{
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.first(), ms.at(ms.size() / 2)};
}

void print(const char *what, const Figures &f, const QString &extra)
{
    std::printf("%-52s best %8.2f ms   median %8.2f ms   %s\n", what, f.best, f.median, qPrintable(extra));
}

QString detection(int i)
{
    return QStringLiteral("{\"label\":\"vehicle\",\"bbox_2d\":[%1,%2,%3,%4],\"score\":0.%5}")
        .arg(i % 900).arg((i * 7) % 900).arg(i % 900 + 60).arg((i * 7) % 900 + 40).arg(50 + i % 49);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QSize source(4000, 3000);
    const QSize sent(1568, 1176);
    const QStringList classes{QStringLiteral("person"), QStringLiteral("vehicle"), QStringLiteral("boat")};

    // A clean answer with 10,001 detections, in a code fence.
    QStringList items;
    for (int i = 0; i < 10001; ++i)
        items << detection(i);
    const QString clean = QStringLiteral("```json\n[") + items.join(QLatin1Char(',')) + QStringLiteral("]\n```");
    qsizetype count = 0;
    Figures f = measure(15, [&] { count = parseDetections(clean, source, sent, 0.4, classes, true, true).size(); });
    print("10,001 detections, valid JSON", f,
          QStringLiteral("%1 KB, %2 records").arg(clean.toUtf8().size() / 1024).arg(count));

    // About 1 MB of broken JSON: no commas between objects, so only the salvage pass reads it.
    QString broken = QStringLiteral("[");
    int n = 0;
    while (broken.size() < 1024 * 1024)
        broken += detection(n++) + QLatin1Char(' ');
    broken += QLatin1Char(']');
    f = measure(15, [&] { count = parseDetections(broken, source, sent, 0.4, classes, true, true).size(); });
    print("1 MB broken JSON (salvage pass)", f,
          QStringLiteral("%1 KB, %2 objects, %3 records").arg(broken.toUtf8().size() / 1024).arg(n).arg(count));

    // About 1 MB of broken JSON with fewer, larger objects (10-point outlines): every one is read.
    QString outlines = QStringLiteral("[");
    int m = 0;
    while (outlines.size() < 1024 * 1024) {
        QString d = detection(m++);
        d.chop(1);
        d += QStringLiteral(",\"polygon\":[[100,100],[200,100],[300,150],[350,250],[300,350],"
                            "[200,400],[100,350],[60,250],[80,150],[%1,120]]} ").arg(m % 900);
        outlines += d;
    }
    outlines += QLatin1Char(']');
    f = measure(15, [&] { count = parseDetections(outlines, source, sent, 0.4, classes, true, true).size(); });
    print("1 MB broken JSON with outlines (salvage pass)", f,
          QStringLiteral("%1 objects, %2 records").arg(m).arg(count));

    // 1 MB of broken JSON whose objects all carry repairable faults.
    QString faulty = broken;
    faulty.replace(QLatin1String("\"bbox_2d\":["), QLatin1String("\"bbox_2d\" ["));
    faulty.replace(QLatin1String("}"), QLatin1String(",}"));
    f = measure(15, [&] { count = parseDetections(faulty, source, sent, 0.4, classes, true, true).size(); });
    print("1 MB broken JSON, every object repaired", f, QStringLiteral("%1 records").arg(count));

    // 1 MB that is nothing but brackets and braces: the worst case for the spans and patterns.
    const QString hostile = QStringLiteral("[") + QStringLiteral("{[,").repeated(350000) + QStringLiteral("]");
    f = measure(15, [&] { count = parseDetections(hostile, source, sent, 0.4, classes, true, true).size(); });
    print("1 MB of brackets, braces and commas", f, QStringLiteral("%1 records").arg(count));

    if (app.arguments().contains(QLatin1String("--parse-only")))
        return 0;

    // Preparing an image for a request: decode, orientation, scaling, JPEG and Base64.
    QTemporaryDir dir;
    const auto prepare = [&](QSize size, const QString &name) {
        QImage image(size, QImage::Format_RGB888);
        image.fill(QColor(70, 110, 150));
        for (int y = 0; y < size.height(); y += 97)
            for (int x = 0; x < size.width(); ++x)
                image.setPixelColor(x, y, QColor(x % 256, y % 256, 40));
        const QString path = dir.filePath(name);
        image.save(path, nullptr, 90);
        qsizetype urlSize = 0;
        const Figures g = measure(5, [&] {
            QSize src;
            urlSize = jpegDataUrl(loadImageForSending(path, &src), 85).size();
        });
        return qMakePair(g, urlSize);
    };
    auto r = prepare(QSize(4000, 3000), QStringLiteral("12mp.jpg"));
    print("prepare a 4000x3000 JPEG (12 MP)", r.first, QStringLiteral("data URL %1 KB").arg(r.second / 1024));
    r = prepare(QSize(12000, 9000), QStringLiteral("108mp.jpg"));
    print("prepare a 12000x9000 JPEG (108 MP)", r.first, QStringLiteral("data URL %1 KB").arg(r.second / 1024));
    r = prepare(QSize(12000, 9000), QStringLiteral("108mp.png"));
    print("prepare a 12000x9000 PNG (108 MP)", r.first, QStringLiteral("data URL %1 KB").arg(r.second / 1024));
    return 0;
}
