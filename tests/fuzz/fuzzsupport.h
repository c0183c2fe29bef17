#pragma once

#include "storage/annotation.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the libFuzzer programs. A reader that breaks one of its promises aborts, so libFuzzer
// keeps the input like that of a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace Fuzz {

// One application object and one scratch folder for the whole run: each input only rewrites a
// file in it, which keeps an iteration cheap.
inline const QString &scratchDir()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

inline void writeFile(const QString &path, const char *data, qsizetype size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(data, size) == size);
}

inline void writeImage(const QString &path, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    FUZZ_CHECK(image.save(path));
}

inline bool finite(double v)
{
    return std::isfinite(v);
}

// What every record read from a dataset file promises, whatever the file held.
inline void checkStoredRecord(const Annotation &a)
{
    FUZZ_CHECK(a.id == 0);
    FUZZ_CHECK(a.kind == Annotation::Rect || a.kind == Annotation::Polygon
               || a.kind == Annotation::Rotated);
    FUZZ_CHECK(!a.label.isEmpty());
    FUZZ_CHECK(a.hasFiniteGeometry());
    FUZZ_CHECK(finite(a.confidence));
    if (a.kind == Annotation::Polygon)
        FUZZ_CHECK(a.points.size() >= 3);
    if (a.kind == Annotation::Rotated)
        FUZZ_CHECK(a.points.size() == 4);
}

} // namespace Fuzz
