#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

// Shapes as the tests state them. pending 1 is an unconfirmed model result; confidence -1 is none.
// A polygon's rect stays empty, as a VOC file without a bndbox gives it.
Annotation box(const QString &label, const QRectF &rect, int pending = 0, double confidence = -1.0,
               bool difficult = false);
// The box between two corners, as models and the checks state boxes.
Annotation box(const QString &label, double left, double top, double right, double bottom, int pending = 0,
               double confidence = -1.0);
Annotation polygon(const QString &label, const QList<QPointF> &points, int pending = 0, double confidence = -1.0,
                   bool difficult = false);
