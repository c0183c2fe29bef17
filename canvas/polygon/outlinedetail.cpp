#include "canvas/polygon/outlinedetail.h"

#include <cmath>

namespace {

QPolygonF mergeCells(const QList<QPointF> &points, double cell)
{
    QPolygonF kept;
    if (points.isEmpty())
        return kept;
    kept.reserve(std::min<qsizetype>(points.size(), 4096));
    const auto cellOf = [cell](const QPointF &p) {
        return std::pair<double, double>(std::floor(p.x() / cell), std::floor(p.y() / cell));
    };
    auto last = cellOf(points.first());
    kept.append(points.first());
    for (qsizetype i = 1; i < points.size(); ++i) {
        const auto here = cellOf(points.at(i));
        if (here != last) {
            kept.append(points.at(i));
            last = here;
        }
    }
    return kept;
}

} // namespace

QPolygonF simplifiedOutline(const QList<QPointF> &points, double cell, qsizetype maxPoints)
{
    if (!(cell > 0) || !std::isfinite(cell))
        cell = 1;
    maxPoints = std::max<qsizetype>(maxPoints, 3);
    QPolygonF outline = mergeCells(points, cell);
    // Each pass works on the last one's result: a few passes over ever fewer points.
    // Bounded passes: points that are not numbers share no cell with anything.
    for (int pass = 0; outline.size() > maxPoints && pass < 64; ++pass) {
        cell *= 2;
        outline = mergeCells(outline, cell);
    }
    return outline;
}
