#include "storage/shapekinds.h"

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

const std::array<ShapeKindRules, 2> kRows{{
    {Annotation::Rect, QLatin1String("rect"), QLatin1String("r"), QLatin1String(), {}, 0,
     boxOfRect, rectCorners, rectArea, translateRect, isBoxCorners, rectFromCorners},
    {Annotation::Polygon, QLatin1String("polygon"), QLatin1String("p"), QLatin1String("polygon"),
     {QLatin1String("polygon"), QLatin1String("points")}, 3,
     boxOfPoints, polygonPoints, polygonArea, translatePoints, isPolygonOutline, polygonFromPoints},
}};

} // namespace

const std::array<ShapeKindRules, 2> &shapeKinds()
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
