#pragma once

#include "storage/annotation.h"

#include <QRectF>

// Geometry shared by the overlap filter of model results and the label checker.

// The box a shape covers: the normalised rect of a box, the bounding rectangle of a polygon's points.
QRectF annotationBox(const Annotation &annotation);

// Intersection over union; 0 when the boxes do not intersect or the union is not positive.
double boxIoU(const QRectF &a, const QRectF &b);
