#include "storage/labelmefile.h"

#include "storage/atomicfile.h"
#include "storage/classnames.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPolygonF>

#include <cmath>

namespace {

const QLatin1String kShapes("shapes");
const QLatin1String kLabel("label");
const QLatin1String kPoints("points");
const QLatin1String kShapeType("shape_type");
const QLatin1String kDifficult("difficult");
const QLatin1String kScore("score");

// Written by the labelme release whose files we write; its reader accepts older and newer ones.
const QLatin1String kLabelmeVersion("5.4.1");

bool readPoints(const QJsonValue &value, QList<QPointF> *points)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &p : array) {
        const QJsonArray xy = p.toArray();
        if (xy.size() != 2 || !xy.at(0).isDouble() || !xy.at(1).isDouble())
            return false;
        const QPointF point(xy.at(0).toDouble(), xy.at(1).toDouble());
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            return false;
        points->append(point);
    }
    return true;
}

// The shape as a record; false for a shape we do not edit (it is then kept as it is).
bool takeShape(const QJsonObject &shape, Annotation *a)
{
    const QString type = shape.value(kShapeType).toString(QStringLiteral("polygon"));
    const QString label = shape.value(kLabel).toString();
    QList<QPointF> points;
    if (label.trimmed().isEmpty() || !readPoints(shape.value(kPoints), &points))
        return false;
    if (type == u"rectangle") {
        if (points.size() != 2 && points.size() != 4)
            return false;
        const QRectF box = QPolygonF(points).boundingRect();
        if (box.width() <= 0 || box.height() <= 0)
            return false;
        a->kind = Annotation::Rect;
        a->rect = box;
    } else if (type == u"polygon") {
        if (points.size() < 3)
            return false;
        a->kind = Annotation::Polygon;
        a->points = points;
        a->rect = QPolygonF(points).boundingRect();
    } else {
        return false;
    }
    a->label = label;
    a->difficult = shape.value(kDifficult).toBool(false);
    if (shape.value(kScore).isDouble())
        a->confidence = shape.value(kScore).toDouble();
    QJsonObject rest = shape;
    for (const QLatin1String key : {kLabel, kPoints, kShapeType, kDifficult})
        rest.remove(key);
    // A score of null (X-AnyLabeling's for a drawn shape) stays as it is.
    if (a->confidence >= 0)
        rest.remove(kScore);
    a->foreignFields = rest;
    return true;
}

qint64 lineAt(const QByteArray &bytes, qsizetype offset)
{
    return bytes.left(offset).count('\n') + 1;
}

struct ParsedFile
{
    QJsonObject top;
    QJsonArray shapes;
    ReadProblem problem;
};

ParsedFile parse(const QByteArray &bytes)
{
    ParsedFile parsed;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        parsed.problem = {ReadProblem::JsonError, lineAt(bytes, error.offset)};
        return parsed;
    }
    parsed.top = doc.object();
    if (!doc.isObject() || !parsed.top.value(kShapes).isArray()) {
        parsed.problem = {ReadProblem::JsonError, 1};
        return parsed;
    }
    parsed.shapes = parsed.top.value(kShapes).toArray();
    for (const QJsonValue &shape : std::as_const(parsed.shapes)) {
        if (!shape.isObject()) {
            parsed.problem = {ReadProblem::JsonError, 1};
            return parsed;
        }
    }
    return parsed;
}

QJsonArray pointsJson(const QList<QPointF> &points)
{
    QJsonArray array;
    for (const QPointF &p : points)
        array.append(QJsonArray{p.x(), p.y()});
    return array;
}

QJsonObject shapeJson(const Annotation &a, bool fourCorners, bool writeDifficult)
{
    QJsonObject shape = a.foreignFields;
    if (shape.isEmpty()) {
        // labelme's own keys of a new shape.
        shape.insert(QStringLiteral("group_id"), QJsonValue::Null);
        shape.insert(QStringLiteral("description"), QString());
        shape.insert(QStringLiteral("flags"), QJsonObject());
    }
    shape.insert(kLabel, a.label);
    if (a.isPolygon()) {
        shape.insert(kShapeType, QStringLiteral("polygon"));
        shape.insert(kPoints, pointsJson(a.points));
    } else {
        const QRectF r = a.kind == Annotation::Polygon ? QPolygonF(a.points).boundingRect() : a.rect.normalized();
        shape.insert(kShapeType, QStringLiteral("rectangle"));
        shape.insert(kPoints, fourCorners ? pointsJson({r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()})
                                          : pointsJson({r.topLeft(), r.bottomRight()}));
    }
    if (writeDifficult || a.difficult)
        shape.insert(kDifficult, a.difficult);
    if (a.confidence >= 0)
        shape.insert(kScore, a.confidence);
    return shape;
}

} // namespace

bool isLabelmeFile(const QString &jsonPath, QByteArray *content, bool *haveContent)
{
    if (haveContent)
        *haveContent = false;
    QByteArray bytes;
    const FileRead read = readRegularFile(jsonPath, &bytes);
    if (read == FileRead::Missing)
        return false;
    if (read == FileRead::Ok) {
        if (!bytes.contains("\"shapes\""))
            return false;
        if (content)
            *content = std::move(bytes);
        if (haveContent)
            *haveContent = true;
        return true;
    }
    // Too large or unreadable: its head still tells whose it is.
    QByteArray head;
    return readFileHead(jsonPath, &head, 1024 * 1024) == FileRead::Ok && head.contains("\"shapes\"");
}

LabelmeShapes readLabelmeBytes(const QByteArray &bytes, ReadProblem *problem)
{
    LabelmeShapes result;
    const ParsedFile parsed = parse(bytes);
    if (problem)
        *problem = parsed.problem;
    if (!parsed.problem.isNone())
        return result;
    for (const QJsonValue &value : parsed.shapes) {
        Annotation a;
        const QJsonObject shape = value.toObject();
        if (takeShape(shape, &a)) {
            result.annotations.append(a);
            continue;
        }
        ++result.kept;
        KeptShape kept;
        kept.type = shape.value(kShapeType).toString(QStringLiteral("polygon"));
        kept.label = shape.value(kLabel).toString();
        if (!readPoints(shape.value(kPoints), &kept.points))
            kept.points.clear();
        result.keptShapes.append(kept);
    }
    return result;
}

LabelmeShapes readLabelmeFile(const QString &jsonPath, ReadProblem *problem)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(jsonPath, &bytes);
    if (read != FileRead::Ok) {
        if (problem) {
            const bool tooLarge = read == FileRead::Unreadable && QFileInfo(jsonPath).size() > kLabelFileLimit;
            *problem = {tooLarge ? ReadProblem::TooLarge : ReadProblem::Unreadable, 0};
        }
        return LabelmeShapes();
    }
    return readLabelmeBytes(bytes, problem);
}

bool writeLabelmeFile(const QString &imagePath, const QList<Annotation> &annotations, const QString &jsonPath,
                      const QString &root)
{
    QJsonObject top;
    QJsonArray original;
    bool fourCorners = false;
    bool writeDifficult = false;
    QByteArray bytes;
    const FileRead read = readRegularFile(jsonPath, &bytes);
    if (read == FileRead::Unreadable)
        return false;
    if (read == FileRead::Ok) {
        const ParsedFile parsed = parse(bytes);
        // What could not be read would be lost.
        if (!parsed.problem.isNone())
            return false;
        top = parsed.top;
        original = parsed.shapes;
        for (const QJsonValue &value : std::as_const(original)) {
            const QJsonObject shape = value.toObject();
            if (shape.value(kShapeType).toString() == u"rectangle" && shape.value(kPoints).toArray().size() == 4)
                fourCorners = true;
            if (shape.contains(kDifficult))
                writeDifficult = true;
        }
    } else {
        const QSize size = imageSize(imagePath);
        top.insert(QStringLiteral("version"), kLabelmeVersion);
        top.insert(QStringLiteral("flags"), QJsonObject());
        top.insert(QStringLiteral("imagePath"), QFileInfo(imagePath).fileName());
        top.insert(QStringLiteral("imageData"), QJsonValue::Null);
        top.insert(QStringLiteral("imageHeight"), size.isValid() ? QJsonValue(size.height()) : QJsonValue());
        top.insert(QStringLiteral("imageWidth"), size.isValid() ? QJsonValue(size.width()) : QJsonValue());
    }

    QList<Annotation> records;
    for (const Annotation &a : annotations) {
        if (!a.label.isEmpty() && a.hasFiniteGeometry())
            records.append(a);
    }
    // Kept shapes stay where they were among the edited ones.
    QJsonArray shapes;
    qsizetype next = 0;
    for (const QJsonValue &value : std::as_const(original)) {
        Annotation unused;
        if (!takeShape(value.toObject(), &unused))
            shapes.append(value);
        else if (next < records.size())
            shapes.append(shapeJson(records.at(next++), fourCorners, writeDifficult));
    }
    for (; next < records.size(); ++next)
        shapes.append(shapeJson(records.at(next), fourCorners, writeDifficult));
    top.insert(kShapes, shapes);

    if (!makeFolderInside(QFileInfo(jsonPath).absolutePath(), root))
        return false;
    return writeFileAtomically(jsonPath, QJsonDocument(top).toJson(QJsonDocument::Indented), root);
}

QStringList labelmeLabelList(const QString &imageDir, QString *file)
{
    if (file)
        file->clear();
    const QDir dir(imageDir);
    for (const QString &folder : {dir.absolutePath(), QFileInfo(dir.absolutePath()).absolutePath()}) {
        for (const QLatin1String name : {QLatin1String("labels.txt"), QLatin1String("flags.txt")}) {
            const QString path = QDir(folder).filePath(name);
            if (!QFileInfo(path).isFile())
                continue;
            QStringList names;
            const QStringList lines = readNamesFile(path);
            for (const QString &line : lines) {
                if (line != u"__ignore__" && line != u"_background_" && !names.contains(line))
                    names.append(line);
            }
            if (file)
                *file = path;
            return names;
        }
    }
    return {};
}

int countLabelmeShapes(const QByteArray &bytes)
{
    ReadProblem problem;
    const LabelmeShapes shapes = readLabelmeBytes(bytes, &problem);
    return problem.isNone() ? int(shapes.annotations.size()) : -1;
}
