#include "storage/dotafile.h"

#include "storage/atomicfile.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cmath>

namespace {

bool isHeaderLine(const QByteArray &line)
{
    return line.startsWith("imagesource:") || line.startsWith("gsd:");
}

QList<QByteArray> splitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool readObject(const QByteArray &line, Annotation *a)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 9 && fields.size() != 10)
        return false;
    QList<QPointF> corners;
    for (int i = 0; i < 8; i += 2) {
        bool okX = false;
        bool okY = false;
        const double x = fields.at(i).toDouble(&okX);
        const double y = fields.at(i + 1).toDouble(&okY);
        if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y))
            return false;
        corners.append(QPointF(x, y));
    }
    if (fields.size() == 10 && fields.at(9) != "0" && fields.at(9) != "1")
        return false;
    a->kind = isRectangleCorners(corners) ? Annotation::Rotated : Annotation::Polygon;
    a->points = corners;
    a->rect = shapeKindRules(a->kind).box(*a);
    a->label = QString::fromUtf8(fields.at(8));
    a->difficult = fields.size() == 10 && fields.at(9) == "1";
    return true;
}

// The corners a shape is written with, first corner first; empty when DOTA cannot hold it.
QList<QPointF> cornersOf(const Annotation &a)
{
    const ShapeKindRules &rules = storedShapeKind(a);
    if (rules.kind == Annotation::Rect) {
        const QRectF r = a.rect.normalized();
        return {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    }
    return a.points.size() == 4 ? a.points : QList<QPointF>();
}

// An object as written on its line: the record that line was read into, unedited. Within the
// thousandth of a pixel the writer keeps.
bool sameObject(const Annotation &read, const Annotation &a)
{
    const QList<QPointF> corners = cornersOf(a);
    if (a.label != read.label || a.difficult != read.difficult || corners.size() != read.points.size())
        return false;
    for (qsizetype i = 0; i < corners.size(); ++i) {
        if (std::abs(corners.at(i).x() - read.points.at(i).x()) > 5e-4
            || std::abs(corners.at(i).y() - read.points.at(i).y()) > 5e-4)
            return false;
    }
    return true;
}

// A whole number among the corners written as "2753.0".
bool writesPointZero(const QByteArray &line)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    for (qsizetype i = 0; i < fields.size() && i < 8; ++i) {
        if (fields.at(i).endsWith(".0"))
            return true;
    }
    return false;
}

// How the file being replaced writes its numbers: "2753.0" or "2753".
struct NumberStyle
{
    bool pointZero = false;
};

// To a thousandth of a pixel: a corner that went through VOC's centre, sides and angle comes back
// as 89.999995, which is 90.
QByteArray number(double v, NumberStyle style)
{
    if (std::abs(v) >= 1e12)
        return QByteArray::number(v, 'g', 17);
    const double rounded = std::round(v * 1e3) / 1e3;
    if (rounded == std::round(rounded))
        return QByteArray::number(qint64(std::round(rounded))) + (style.pointZero ? ".0" : "");
    QByteArray text = QByteArray::number(rounded, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    return text;
}

} // namespace

QString dotaLabelPath(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    const QString labelTxt = labelFolderBeside(info.absolutePath(), QLatin1String("images"), QLatin1String("labelTxt"));
    if (labelTxt.isEmpty())
        return QString();
    return labelTxt + QLatin1Char('/') + info.completeBaseName() + QLatin1String(".txt");
}

QString findDotaFile(const QString &imagePath)
{
    const QString path = dotaLabelPath(imagePath);
    return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
}

bool inDotaFolder(const QString &imagePath)
{
    const QString path = dotaLabelPath(imagePath);
    if (path.isEmpty())
        return false;
    // An emptied labelTxt (the folder converted to another format) no longer decides.
    const QDir labelTxt(QFileInfo(path).absolutePath());
    return labelTxt.exists() && !labelTxt.isEmpty(QDir::Files | QDir::NoDotAndDotDot);
}

bool isDotaImageFolder(const QString &dir)
{
    return !dir.isEmpty() && inDotaFolder(QDir(dir).filePath(QStringLiteral("x.png")));
}

QList<Annotation> readDotaBytes(const QByteArray &bytes, ReadProblem *problem)
{
    QList<Annotation> out;
    if (problem)
        *problem = ReadProblem();
    const QList<QByteArray> lines = splitLines(bytes);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || isHeaderLine(line))
            continue;
        Annotation a;
        if (readObject(line, &a)) {
            out.append(a);
        } else if (problem && problem->isNone()) {
            problem->kind = ReadProblem::UnusableLine;
            problem->at = i + 1;
        }
    }
    return out;
}

QList<Annotation> readDotaFile(const QString &path, ReadProblem *problem)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(path, &bytes);
    if (read != FileRead::Ok) {
        if (problem) {
            *problem = ReadProblem();
            problem->kind = ReadProblem::Unreadable;
        }
        return {};
    }
    return readDotaBytes(bytes, problem);
}

bool dotaRewriteKeepsAll(const QString &path)
{
    ReadProblem problem;
    readDotaFile(path, &problem);
    return problem.isNone() || problem.kind == ReadProblem::UnusableLine;
}

int countDotaObjects(const QString &path)
{
    QByteArray bytes;
    if (readRegularFile(path, &bytes) != FileRead::Ok)
        return -1;
    int count = 0;
    for (const QByteArray &line : splitLines(bytes)) {
        const QByteArray trimmed = line.trimmed();
        count += !trimmed.isEmpty() && !isHeaderLine(trimmed) ? 1 : 0;
    }
    return count;
}

bool writeDotaFile(const QString &path, const QList<Annotation> &annotations, const QString &insideRoot)
{
    QByteArray old;
    QByteArray lineEnd = "\n";
    NumberStyle style;
    QList<QByteArray> oldLines;
    if (readRegularFile(path, &old) == FileRead::Ok) {
        if (old.contains("\r\n"))
            lineEnd = "\r\n";
        oldLines = splitLines(old);
        for (const QByteArray &line : std::as_const(oldLines)) {
            const QByteArray trimmed = line.trimmed();
            if (!trimmed.isEmpty() && !isHeaderLine(trimmed) && !style.pointZero)
                style.pointZero = writesPointZero(trimmed);
        }
    }
    QList<const Annotation *> objects;
    for (const Annotation &a : annotations) {
        if (!a.hasFiniteGeometry())
            continue;
        const QByteArray label = a.label.toUtf8();
        if (!a.keypoints.isEmpty() || label.isEmpty() || label.simplified() != label || label.contains(' '))
            return false;
        if (cornersOf(a).isEmpty())
            return false;
        objects.append(&a);
    }
    const auto objectLine = [style](const Annotation &a) {
        QByteArray line;
        for (const QPointF &p : cornersOf(a))
            line += number(p.x(), style) + ' ' + number(p.y(), style) + ' ';
        return line + a.label.toUtf8() + (a.difficult ? " 1" : " 0");
    };

    // The old file's lines stay where they were: headers, blank lines, lines we cannot read (they
    // are nobody's to drop) and every object that is still there as it was, byte for byte. Edited
    // and new objects go before the next old object kept, the rest where the last old object stood.
    QList<QByteArray> out;
    qsizetype next = 0;           // the first object not written yet
    qsizetype objectsEnd = -1;    // where objects not placed yet go
    for (const QByteArray &line : std::as_const(oldLines)) {
        Annotation was;
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || isHeaderLine(trimmed) || !readObject(trimmed, &was)) {
            out.append(line);
            continue;
        }
        qsizetype same = next;
        while (same < objects.size() && !sameObject(was, *objects.at(same)))
            ++same;
        if (same == objects.size()) {
            objectsEnd = out.size();   // deleted or edited: what follows it takes its place
            continue;
        }
        while (next < same)
            out.append(objectLine(*objects.at(next++)));
        out.append(line);
        ++next;
        objectsEnd = out.size();
    }
    if (objectsEnd < 0)
        objectsEnd = out.size();
    for (; next < objects.size(); ++next)
        out.insert(objectsEnd++, objectLine(*objects.at(next)));

    QByteArray bytes;
    for (const QByteArray &line : std::as_const(out))
        bytes += line + lineEnd;
    if (!makeFolderInside(QFileInfo(path).absolutePath(), insideRoot))
        return false;
    return writeFileAtomically(path, bytes, insideRoot);
}
