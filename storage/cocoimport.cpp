#include "storage/cocoimport.h"

#include "storage/filebytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QPolygonF>

#include <cmath>

namespace {

// The file names an import by hand: bounded, but the large public sets fit.
constexpr qint64 kCocoFileLimit = 2048ll * 1024 * 1024;

// Points of a flat [x1, y1, x2, y2, ...] list; empty when it holds anything but finite numbers.
QList<QPointF> flatPoints(const QJsonArray &flat)
{
    QList<QPointF> points;
    if (flat.size() % 2 != 0)
        return points;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2) {
        const QJsonValue x = flat.at(i);
        const QJsonValue y = flat.at(i + 1);
        if (!x.isDouble() || !y.isDouble() || !std::isfinite(x.toDouble()) || !std::isfinite(y.toDouble()))
            return {};
        points.append(QPointF(x.toDouble(), y.toDouble()));
    }
    return points;
}

// The four corners of box in any order of walking: a box written as a polygon.
bool isBoxOutline(const QList<QPointF> &points, const QRectF &box)
{
    if (points.size() != 4)
        return false;
    const QRectF bounds = QPolygonF(points).boundingRect();
    const auto near = [](double a, double b) { return std::abs(a - b) < 0.01; };
    if (!near(bounds.left(), box.left()) || !near(bounds.top(), box.top()) || !near(bounds.right(), box.right())
        || !near(bounds.bottom(), box.bottom()))
        return false;
    for (const QPointF &p : points) {
        if (!(near(p.x(), box.left()) || near(p.x(), box.right())) || !(near(p.y(), box.top()) || near(p.y(), box.bottom())))
            return false;
    }
    return true;
}

} // namespace

CocoDocument readCocoFile(const QString &path)
{
    QByteArray bytes;
    if (readRegularFile(path, &bytes, kCocoFileLimit) != FileRead::Ok) {
        CocoDocument doc;
        doc.failure = CocoDocument::Failure::Unreadable;
        doc.failedPath = path;
        return doc;
    }
    return readCocoBytes(bytes);
}

CocoDocument readCocoBytes(const QByteArray &bytes)
{
    CocoDocument doc;
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        doc.failure = CocoDocument::Failure::NotJson;
        doc.parserMessage = parseError.errorString();
        doc.parserOffset = parseError.offset;
        return doc;
    }
    const QJsonObject top = json.object();
    if (!top.value(QLatin1String("images")).isArray() || !top.value(QLatin1String("annotations")).isArray()
        || !top.value(QLatin1String("categories")).isArray()) {
        doc.failure = CocoDocument::Failure::NotInstances;
        return doc;
    }

    QHash<qint64, QString> categoryNames;
    for (const QJsonValue &value : top.value(QLatin1String("categories")).toArray()) {
        const QJsonObject category = value.toObject();
        const QString name = category.value(QLatin1String("name")).toString().trimmed();
        if (name.isEmpty() || !category.value(QLatin1String("id")).isDouble())
            continue;
        categoryNames.insert(category.value(QLatin1String("id")).toInteger(), name);
        if (!doc.categories.contains(name))
            doc.categories.append(name);
    }
    QHash<qint64, qsizetype> imageIndex;
    for (const QJsonValue &value : top.value(QLatin1String("images")).toArray()) {
        const QJsonObject image = value.toObject();
        const QString name = image.value(QLatin1String("file_name")).toString();
        if (name.isEmpty() || !image.value(QLatin1String("id")).isDouble())
            continue;
        imageIndex.insert(image.value(QLatin1String("id")).toInteger(), doc.images.size());
        CocoImage entry;
        entry.fileName = name;
        doc.images.append(entry);
    }

    for (const QJsonValue &value : top.value(QLatin1String("annotations")).toArray()) {
        const QJsonObject object = value.toObject();
        const auto at = imageIndex.constFind(object.value(QLatin1String("image_id")).toInteger(-1));
        if (at == imageIndex.cend())
            continue;
        CocoImage &image = doc.images[*at];
        const QJsonValue segmentation = object.value(QLatin1String("segmentation"));
        if (segmentation.isObject()) {
            ++image.rleRefused;
            continue;
        }
        const QString label = categoryNames.value(object.value(QLatin1String("category_id")).toInteger(-1));
        const QList<QPointF> corners = flatPoints(object.value(QLatin1String("bbox")).toArray());
        if (label.isEmpty() || corners.size() != 2 || corners.at(1).x() <= 0 || corners.at(1).y() <= 0) {
            ++image.unusable;
            continue;
        }
        Annotation shape;
        shape.label = label;
        shape.rect = QRectF(corners.at(0), QSizeF(corners.at(1).x(), corners.at(1).y()));
        shape.difficult = object.value(QLatin1String("iscrowd")).toInt() == 1;
        QList<QList<QPointF>> parts;
        for (const QJsonValue &part : segmentation.toArray()) {
            const QList<QPointF> points = flatPoints(part.toArray());
            if (points.size() >= 3 && !isBoxOutline(points, shape.rect))
                parts.append(points);
        }
        if (parts.isEmpty()) {
            image.annotations.append(shape);
            continue;
        }
        // An instance in several parts (an occluded object) keeps each part's outline.
        for (const QList<QPointF> &points : std::as_const(parts)) {
            Annotation piece = shape;
            piece.kind = Annotation::Polygon;
            piece.points = points;
            piece.rect = QPolygonF(points).boundingRect();
            image.annotations.append(piece);
        }
    }
    return doc;
}
