#pragma once

#include "checker/labelissue.h"
#include "storage/annotation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The two kinds of label checks of one image. Reentrant; the rule checks run on the checker's
// worker thread. Texts pass through the interface language before their placeholders are filled.

// Rule checks: format conflict, boxes outside the image, tiny boxes, categories missing from
// `classes` (skipped when it is empty) and near-duplicates, on the stored labels of the image.
// Findings come shape by shape; a shape that nearly covers earlier ones of its label (IoU > 0.95)
// gets one duplicate finding, naming the first of them. Time n log n in the number of shapes.
// report receives each finding as it is found: an image may hold tens of thousands.
void checkImage(const QString &path, const QStringList &classes,
                const std::function<void(const LabelIssue &)> &report);
QList<LabelIssue> checkImage(const QString &path, const QStringList &classes);

// Stored labels against the model's detections: shapes the model does not see, misplaced or
// mislabelled shapes (stored order), then detections no stored shape covers (detection order).
QList<LabelIssue> compareWithModel(const QString &path, const QList<Annotation> &stored,
                                   const QList<Annotation> &detections);

