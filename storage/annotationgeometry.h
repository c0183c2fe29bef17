#pragma once

#include "storage/annotation.h"

#include <QRectF>
#include <QSizeF>

#include <optional>

// Geometry shared by the overlap filter of model results and the label checker.

// The box a shape covers: the normalised rect of a box, the bounding rectangle of a polygon's points.
QRectF annotationBox(const Annotation &annotation);

// Intersection over union; 0 when the boxes do not intersect or the union is not positive.
double boxIoU(const QRectF &a, const QRectF &b);

// The shape cut to an image of the given size, as drawing cuts it: a box to its part inside, an
// outline's points moved onto the nearest edge. Nothing when no part of it lies inside the image
// (nothing a label file should hold); the shape as it is when the size is not known, or when it
// has no area and lies on the image.
std::optional<Annotation> clippedToImage(const Annotation &annotation, const QSizeF &size);

// The shape carried to an image of another size in the same proportions (the normalised
// coordinates a YOLO file holds).
Annotation scaledToImage(const Annotation &annotation, const QSizeF &from, const QSizeF &to);
