#include "support/annotationbuilders.h"

Annotation box(const QString &label, const QRectF &rect, int pending, double confidence, bool difficult)
{
    Annotation a;
    a.kind = Annotation::Rect;
    a.rect = rect;
    a.label = label;
    a.pending = pending;
    a.confidence = confidence;
    a.difficult = difficult;
    return a;
}

Annotation box(const QString &label, double left, double top, double right, double bottom, int pending,
               double confidence)
{
    return box(label, QRectF(QPointF(left, top), QPointF(right, bottom)), pending, confidence);
}

Annotation polygon(const QString &label, const QList<QPointF> &points, int pending, double confidence,
                   bool difficult)
{
    Annotation a;
    a.kind = Annotation::Polygon;
    a.points = points;
    a.label = label;
    a.pending = pending;
    a.confidence = confidence;
    a.difficult = difficult;
    return a;
}
