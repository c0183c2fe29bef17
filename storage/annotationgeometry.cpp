#include "storage/annotationgeometry.h"

#include "storage/shapekinds.h"

QRectF annotationBox(const Annotation &annotation)
{
    return shapeKindRules(annotation.kind).box(annotation);
}

double boxIoU(const QRectF &a, const QRectF &b)
{
    const QRectF na = a.normalized();
    const QRectF nb = b.normalized();
    const QRectF meet = na.intersected(nb);
    if (meet.isEmpty())
        return 0.0;
    const double inter = meet.width() * meet.height();
    const double unionArea = na.width() * na.height() + nb.width() * nb.height() - inter;
    return unionArea > 0.0 ? inter / unionArea : 0.0;
}
