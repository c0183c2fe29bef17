#pragma once

#include "storage/annotation.h"

#include <QHash>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

// Shapes as the tests state them. pending 1 is an unconfirmed model result; confidence -1 is none.
// A polygon's rect stays empty, as a VOC file without a bndbox gives it.
Annotation box(const QString &label, const QRectF &rect, int pending = 0, double confidence = -1.0,
               bool difficult = false);
// The box between two corners, as models and the checks state boxes.
Annotation box(const QString &label, double left, double top, double right, double bottom, int pending = 0,
               double confidence = -1.0);
Annotation polygon(const QString &label, const QList<QPointF> &points, int pending = 0, double confidence = -1.0,
                   bool difficult = false);
// A box of a pose dataset with its keypoints; visibility empty for points of two values.
Annotation poseBox(const QString &label, const QRectF &rect, const QList<QPointF> &keypoints,
                   const QList<double> &visibility = {});
// A label row of a pose dataset as Ultralytics documents it: class, the box (centre 0.5 0.5, size
// 0.5 0.5), then count keypoints of dims values. Keypoint i lies at ((i + 1) / 64, (i + 2) / 64),
// visibility 2 for even i and 1 for odd ones; the last keypoint is "0 0 0", not labelled. Ends
// with a line break.
QByteArray poseRow(int classIndex, int count, int dims);

// A rotated box of the corners as given (kept in that order); its rect stays empty, as a polygon's.
Annotation rotated(const QString &label, const QList<QPointF> &corners, int pending = 0, double confidence = -1.0);
// Corner by corner within tolerance pixels: formats that store a turn give the corners back rounded.
bool nearPoints(const QList<QPointF> &a, const QList<QPointF> &b, double tolerance = 0.01);
// A wavy ring of count points around centre, radius r, as a traced mask outline gives: the
// points are on a grid of 1/step image pixels, so that any image size of whole pixels writes
// them to a label file and reads them back unchanged.
QList<QPointF> wavyRing(qsizetype count, const QPointF &centre, double r, int step = 4);

// Pending results stated in a line, for tests of the pending file: "img1.png: cat dog; img2.png:
// bird" is one pending box per label (all at the same place) for each image of dir.
QHash<QString, QList<Annotation>> pendingOf(const QString &dir, const QString &text);
// The same line for a cache: images relative to dir, sorted; each image's pending labels in order.
QString describePending(const QString &dir, const QHash<QString, QList<Annotation>> &cache);
// The labels in order.
QStringList labelsOf(const QList<Annotation> &annotations);
// The labels in order, an unconfirmed one marked "*": "cat", "dog*".
QStringList labelsMarkingPending(const QList<Annotation> &annotations);
