// Rule-check throughput on a synthetic YOLO dataset in a temporary directory. Prints figures;
// asserts nothing.   bench_checker [--images N] [--boxes N] [--runs N] [--dir DIR]
// --dir keeps the dataset in DIR and reuses it when it is there (for profiling the checks alone).
#include "checker/labelchecker.h"
#include "checker/labelchecks.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

void row(const char *what, const QString &value, const QString &note = QString())
{
    std::printf("%-44s %14s  %s\n", what, qPrintable(value), qPrintable(note));
    std::fflush(stdout);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// CPU seconds of the whole process: unlike wall time, not inflated by other work on the machine.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QString perSecond(qsizetype count, double seconds)
{
    return QString::number(double(count) / seconds, 'f', 0) + QStringLiteral(" img/s");
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()) : QStringLiteral("unknown\n");
}

int intOption(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? qMax(1, args.at(at + 1).toInt()) : fallback;
}

QByteArray smallJpeg()
{
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 140));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

// Non-overlapping boxes well inside the image; every 100th image gets a tiny box and a duplicate.
QByteArray labelFile(int boxes, int imageIndex, QRandomGenerator &random)
{
    QByteArray text;
    for (int k = 0; k < boxes; ++k) {
        const double cx = (k % 5 + 0.5) / 5.0;
        const double cy = (k / 5 % 4 + 0.5) / 4.0;
        const double w = 0.05 + random.bounded(0.1);
        const double h = 0.05 + random.bounded(0.1);
        text += QByteArray::number(k % 3) + ' ' + QByteArray::number(cx, 'f', 6) + ' '
            + QByteArray::number(cy, 'f', 6) + ' ' + QByteArray::number(w, 'f', 6) + ' '
            + QByteArray::number(h, 'f', 6) + '\n';
    }
    if (imageIndex % 100 == 0)
        text += "0 0.5 0.5 0.001 0.2\n0 0.5 0.5 0.001 0.2\n";
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int images = intOption(args, QStringLiteral("--images"), 10000);
    const int boxes = intOption(args, QStringLiteral("--boxes"), 20);
    const int runs = intOption(args, QStringLiteral("--runs"), 3);

    QTemporaryDir tmp;
    const qsizetype dirAt = args.indexOf(QStringLiteral("--dir"));
    const QString root = dirAt >= 0 && dirAt + 1 < args.size() ? args.at(dirAt + 1) : tmp.path();
    const QString dir = root + QStringLiteral("/ds/images");
    const bool reuse = dirAt >= 0 && QFileInfo::exists(root + QStringLiteral("/ds/labels/classes.txt"));
    QDir().mkpath(dir);
    QDir().mkpath(root + QStringLiteral("/ds/labels"));
    const QByteArray jpeg = smallJpeg();
    QRandomGenerator random(11);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < images && !reuse; ++i) {
        const QString image = dir + QStringLiteral("/img%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
            return 1;
        QFile label(yoloLabelPath(image));
        if (!label.open(QIODevice::WriteOnly) || label.write(labelFile(boxes, i, random)) < 0)
            return 1;
    }
    QFile classes(root + QStringLiteral("/ds/labels/classes.txt"));
    if (!reuse && (!classes.open(QIODevice::WriteOnly) || classes.write("car\nbus\nperson\n") < 0))
        return 1;
    classes.close();
    if (!reuse) {
        row("dataset written", QString::number(timer.elapsed()) + QStringLiteral(" ms"),
            QStringLiteral("%1 images, %2 boxes each, 640x480 JPEG").arg(images).arg(boxes));
    }

    const QStringList paths = DirectoryLoader::listImages(dir);
    const QStringList classList{"car", "bus", "person"};

    std::vector<double> direct;
    std::vector<double> directCpu;
    qsizetype findings = 0;
    for (int r = 0; r < runs; ++r) {
        timer.restart();
        const double cpu = cpuSeconds();
        findings = 0;
        for (const QString &path : paths)
            findings += checkImage(path, classList).size();
        direct.push_back(double(timer.nsecsElapsed()) / 1e9);
        directCpu.push_back(cpuSeconds() - cpu);
    }
    row("checkImage, one thread (wall)", perSecond(paths.size(), median(direct)),
        QStringLiteral("median of %1 runs, %2 findings").arg(runs).arg(findings));
    row("checkImage, one thread (CPU)", perSecond(paths.size(), median(directCpu)));

    std::vector<double> pass;
    std::vector<double> passCpu;
    int reported = 0;
    LabelChecker checker;
    QEventLoop loop;
    QObject::connect(&checker, &LabelChecker::finished, &loop, [&](int, int issues, int) {
        reported = issues;
        loop.quit();
    });
    for (int r = 0; r < runs; ++r) {
        timer.restart();
        const double cpu = cpuSeconds();
        checker.startCheck(paths, classList);
        loop.exec();
        pass.push_back(double(timer.nsecsElapsed()) / 1e9);
        passCpu.push_back(cpuSeconds() - cpu);
    }
    row("LabelChecker pass, start to finished (wall)", perSecond(paths.size(), median(pass)),
        QStringLiteral("median of %1 runs, %2 findings; goal 5000 img/s").arg(runs).arg(reported));
    row("LabelChecker pass, start to finished (CPU)", perSecond(paths.size(), median(passCpu)),
        QStringLiteral("both threads"));
    std::printf("load average while measuring: %s", qPrintable(loadAverage()));
    return 0;
}
