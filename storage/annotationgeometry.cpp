#include "storage/annotationgeometry.h"

#include "storage/shapekinds.h"

#include <algorithm>

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

std::optional<Annotation> clippedToImage(const Annotation &annotation, const QSizeF &size)
{
    if (size.isEmpty())
        return annotation;
    const QRectF image(QPointF(0, 0), size);
    const QRectF covered = annotationBox(annotation);
    // A shape without area is kept where it is, when it is there at all (the checks name it).
    if (covered.width() <= 0 || covered.height() <= 0) {
        const QPointF at = covered.topLeft();
        if (at.x() < 0 || at.y() < 0 || at.x() > size.width() || at.y() > size.height())
            return std::nullopt;
        return annotation;
    }
    // A shape that only touches the edge has nothing inside either.
    if (!covered.intersects(image))
        return std::nullopt;
    // Clipping would bend a rotated box out of its rectangle: its corners stay as they are.
    if (!shapeKindRules(annotation.kind).clampedToImage)
        return annotation;
    Annotation out = annotation;
    if (!out.rect.isNull())
        out.rect = out.rect.normalized().intersected(image);
    for (QPointF &p : out.points)
        p = QPointF(std::clamp(p.x(), 0.0, size.width()), std::clamp(p.y(), 0.0, size.height()));
    const QRectF box = annotationBox(out);
    if (box.width() <= 0 || box.height() <= 0)
        return std::nullopt;
    return out;
}

Annotation scaledToImage(const Annotation &annotation, const QSizeF &from, const QSizeF &to)
{
    if (from.isEmpty() || to.isEmpty() || from == to)
        return annotation;
    const double sx = to.width() / from.width();
    const double sy = to.height() / from.height();
    Annotation out = annotation;
    out.rect = QRectF(annotation.rect.left() * sx, annotation.rect.top() * sy, annotation.rect.width() * sx,
                      annotation.rect.height() * sy);
    for (QPointF &p : out.points)
        p = QPointF(p.x() * sx, p.y() * sy);
    return out;
}
