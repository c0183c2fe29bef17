#include "storage/shapekinds.h"

#include "storage/annotationgeometry.h"
#include "storage/rotatedbox.h"

#include <QPolygonF>

#include <cmath>

namespace {

// ---- box: the geometry is the rect ----

QRectF boxOfRect(const Annotation &a)
{
    return a.rect.normalized();
}

// Top left, top right, bottom right, bottom left: the order YOLO segmentation files and COCO
// masks have always been given.
QList<QPointF> rectCorners(const Annotation &a)
{
    const QRectF r = a.rect.normalized();
    return {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
}

double rectArea(const Annotation &a)
{
    const QRectF r = a.rect.normalized();
    return r.width() * r.height();
}

void translateRect(Annotation &a, const QPointF &by)
{
    a.rect.translate(by);
}

bool isBoxCorners(const QList<QPointF> &p)
{
    return p.size() == 4 && p[0].y() == p[1].y() && p[1].x() == p[2].x() && p[2].y() == p[3].y()
        && p[3].x() == p[0].x() && p[0].x() <= p[1].x() && p[0].y() <= p[2].y();
}

void rectFromCorners(Annotation &a)
{
    a.rect = QRectF(a.points.at(0), a.points.at(2));
    a.points.clear();
}

// ---- polygon: the geometry is the points ----

QRectF boxOfPoints(const Annotation &a)
{
    return QPolygonF(a.points).boundingRect();
}

QList<QPointF> polygonPoints(const Annotation &a)
{
    return a.points;
}

double polygonArea(const Annotation &a)
{
    const QList<QPointF> &points = a.points;
    double twice = 0.0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QPointF &p = points.at(i);
        const QPointF &q = points.at((i + 1) % points.size());
        twice += p.x() * q.y() - q.x() * p.y();
    }
    return std::abs(twice) / 2.0;
}

void translatePoints(Annotation &a, const QPointF &by)
{
    for (QPointF &p : a.points)
        p += by;
}

bool isPolygonOutline(const QList<QPointF> &points)
{
    return points.size() >= 3;
}

void polygonFromPoints(Annotation &a)
{
    a.rect = QPolygonF(a.points).boundingRect();
}

QSizeF rectSides(const Annotation &a)
{
    return a.rect.normalized().size();
}

QSizeF pointsSides(const Annotation &a)
{
    return boxOfPoints(a).size();
}

// ---- rotated box: the geometry is its four corners, in the order they were read ----

QSizeF rotatedSides(const Annotation &a)
{
    return RotatedFrame::fromCorners(a.points).size();
}

double rotatedAngle(const Annotation &a)
{
    return RotatedFrame::fromCorners(a.points).angle;
}

double rotatedArea(const Annotation &a)
{
    const QSizeF size = rotatedSides(a);
    return size.width() * size.height();
}

// The <robndbox> of the oriented-box labellers: centre, sides and the turn in radians.
QList<std::pair<QString, QString>> rotatedVocChildren(const Annotation &a)
{
    RotatedFrame f = RotatedFrame::fromCorners(a.points);
    // It holds no winding: anticlockwise corners are written clockwise from the same first corner.
    if (f.mirrored)
        f = RotatedFrame::fromCorners({a.points[0], a.points[3], a.points[2], a.points[1]});
    const auto number = [](double v, int decimals) { return QString::number(v, 'f', decimals); };
    return {{QStringLiteral("cx"), number(f.centre.x(), 4)},
            {QStringLiteral("cy"), number(f.centre.y(), 4)},
            {QStringLiteral("w"), number(f.width, 4)},
            {QStringLiteral("h"), number(f.height, 4)},
            {QStringLiteral("angle"), number(wrappedDegrees(f.angle) * 3.14159265358979323846 / 180.0, 8)}};
}

bool rotatedFromVocChildren(Annotation &a, const QHash<QString, QString> &children)
{
    RotatedFrame f;
    double values[5];
    const char *names[5] = {"cx", "cy", "w", "h", "angle"};
    for (int i = 0; i < 5; ++i) {
        bool ok = false;
        values[i] = children.value(QString::fromLatin1(names[i])).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(values[i]))
            return false;
    }
    f.centre = QPointF(values[0], values[1]);
    f.width = values[2];
    f.height = values[3];
    f.angle = values[4] * 180.0 / 3.14159265358979323846;
    if (!(f.width > 0) || !(f.height > 0))
        return false;
    a.points = f.corners();
    a.rect = boxOfPoints(a);
    return true;
}

bool isRotatedCorners(const QList<QPointF> &points)
{
    return isRectangleCorners(points);
}

const std::array<ShapeKindRules, 3> kRows{{
    {Annotation::Rect, QLatin1String("rect"), QLatin1String("r"), QLatin1String(), {}, 0,
     boxOfRect, rectCorners, rectArea, translateRect, isBoxCorners, rectFromCorners, rectSides, nullptr,
     nullptr, nullptr, true, true},
    // Before the polygon: four corners at right angles are a rotated box.
    {Annotation::Rotated, QLatin1String("rotated"), QLatin1String("o"), QLatin1String("robndbox"),
     {QLatin1String("corners"), QLatin1String("obb")}, 4,
     boxOfPoints, polygonPoints, rotatedArea, translatePoints, isRotatedCorners, polygonFromPoints, rotatedSides,
     rotatedAngle, rotatedVocChildren, rotatedFromVocChildren, false, true},
    {Annotation::Polygon, QLatin1String("polygon"), QLatin1String("p"), QLatin1String("polygon"),
     {QLatin1String("polygon"), QLatin1String("points")}, 3,
     boxOfPoints, polygonPoints, polygonArea, translatePoints, isPolygonOutline, polygonFromPoints, pointsSides,
     nullptr, nullptr, nullptr, true, false},
}};

} // namespace

const std::array<ShapeKindRules, 3> &shapeKinds()
{
    return kRows;
}

const ShapeKindRules &shapeKindRules(Annotation::Kind kind)
{
    for (const ShapeKindRules &row : kRows) {
        if (row.kind == kind)
            return row;
    }
    return kRows.front();
}

const ShapeKindRules &storedShapeKind(const Annotation &a)
{
    const ShapeKindRules &row = shapeKindRules(a.kind);
    return a.points.size() >= row.minPoints ? row : kRows.front();
}

const ShapeKindRules *shapeKindWithPendingTag(QStringView tag)
{
    for (const ShapeKindRules &row : kRows) {
        if (tag == row.pendingTag)
            return &row;
    }
    return nullptr;
}

const ShapeKindRules *shapeKindWithVocElement(QStringView element)
{
    for (const ShapeKindRules &row : kRows) {
        if (!row.vocElement.isEmpty() && element == row.vocElement)
            return &row;
    }
    return nullptr;
}

const ShapeKindRules *shapeKindOfOutline(const QList<QPointF> &points)
{
    for (const ShapeKindRules &row : kRows) {
        if (row.readsOutline(points))
            return &row;
    }
    return nullptr;
}

double shapeIoU(const Annotation &a, const Annotation &b)
{
    const ShapeKindRules &first = storedShapeKind(a);
    const ShapeKindRules &second = storedShapeKind(b);
    if (first.convex && second.convex && (first.angle || second.angle))
        return convexOutlineIoU(first.outline(a), second.outline(b));
    return boxIoU(first.box(a), second.box(b));
}
