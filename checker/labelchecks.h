#pragma once

#include "checker/labelissue.h"
#include "storage/annotation.h"

#include <QList>
#include <QString>
#include <QStringList>

// The two kinds of label checks of one image. Reentrant; the rule checks run on the checker's
// worker thread. Texts pass through the interface language before their placeholders are filled.

// Rule checks: format conflict, boxes outside the image, tiny boxes, categories missing from
// `classes` (skipped when it is empty) and near-duplicates, on the stored labels of the image.
QList<LabelIssue> checkImage(const QString &path, const QStringList &classes);

// Stored labels against the model's detections: shapes the model does not see, misplaced or
// mislabelled shapes (stored order), then detections no stored shape covers (detection order).
QList<LabelIssue> compareWithModel(const QString &path, const QList<Annotation> &stored,
                                   const QList<Annotation> &detections);

