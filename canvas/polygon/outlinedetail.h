#pragma once

#include <QList>
#include <QPointF>
#include <QPolygonF>

// A closed outline reduced to what can be seen: consecutive points that fall in the same cell
// of a square grid (cell scene units wide) become one. The cell doubles until at most
// maxPoints remain, so that drawing costs are bounded however many points the record holds.
// The first point is always kept; an outline of maxPoints or fewer stays as it is when no two
// consecutive points share a cell.
QPolygonF simplifiedOutline(const QList<QPointF> &points, double cell, qsizetype maxPoints);
