#include "checker/labelchecks.h"

#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

#include <QRectF>
#include <QSize>

#include <vector>

namespace {

const double kEdgeTolerance = 0.5;
const double kTinySide = 2.0;
const double kDuplicateIoU = 0.95;
const double kMatchIoU = 0.3;
const double kGoodIoU = 0.6;

// Fixed notation; a value that rounds to zero prints as "0", never "-0".
QString fixed(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.startsWith(QLatin1Char('-'))) {
        bool allZero = true;
        for (qsizetype i = 1; i < text.size() && allZero; ++i)
            allZero = text.at(i) == u'0' || text.at(i) == u'.';
        if (allZero)
            text.remove(0, 1);
    }
    return text;
}

QString whole(double value)
{
    return fixed(value, 0);
}

QString twoDecimals(double value)
{
    return fixed(value, 2);
}

QString number(qsizetype n)
{
    return QString::number(n);
}

// "(left,top)-(right,bottom)" in whole pixels.
QString corners(const QRectF &box)
{
    return QStringLiteral("(%1,%2)-(%3,%4)")
        .arg(whole(box.left()), whole(box.top()), whole(box.right()), whole(box.bottom()));
}

} // namespace

QList<LabelIssue> checkImage(const QString &path, const QStringList &classes)
{
    QList<LabelIssue> issues;
    // The label files as found, in our layout or in another tool's.
    const bool haveXml = !findVocFile(path).isEmpty();
    const QStringList yolo = yoloLabelCandidates(path);
    if (haveXml && !yolo.isEmpty()) {
        issues.append({path, LabelIssue::Kind::FormatConflict, {}});
    }
    if (!haveXml && yolo.isEmpty())
        return issues;

    const QList<Annotation> annotations = loadAnnotations(path);
    if (annotations.isEmpty())
        return issues;

    const QSize size = imageSize(path);   // invalid (-1 x -1) when unreadable
    const double w = size.width();
    const double h = size.height();
    const QString sizeW = QString::number(size.width());
    const QString sizeH = QString::number(size.height());

    std::vector<QRectF> boxes;
    boxes.reserve(size_t(annotations.size()));
    for (qsizetype i = 0; i < annotations.size(); ++i) {
        const Annotation &a = annotations.at(i);
        const QRectF box = annotationBox(a);
        boxes.push_back(box);
        const QString n = number(i + 1);

        if (box.left() < -kEdgeTolerance || box.top() < -kEdgeTolerance || box.right() > w + kEdgeTolerance
            || box.bottom() > h + kEdgeTolerance) {
            issues.append({path, LabelIssue::Kind::OutsideImage,
                           {n, a.label, whole(box.left()), whole(box.top()), whole(box.right()), whole(box.bottom()),
                            sizeW, sizeH}});
        }
        if (box.width() < kTinySide || box.height() < kTinySide) {
            issues.append({path, LabelIssue::Kind::TinyBox, {n, a.label, whole(box.width()), whole(box.height())}});
        }
        if (!classes.isEmpty() && !classes.contains(a.label)) {
            issues.append({path, LabelIssue::Kind::UnknownCategory, {n, a.label}});
        }
        for (qsizetype m = 0; m < i; ++m) {
            if (annotations.at(m).label == a.label && boxIoU(box, boxes[size_t(m)]) > kDuplicateIoU) {
                issues.append({path, LabelIssue::Kind::Duplicate, {n, number(m + 1), a.label}});
            }
        }
    }
    return issues;
}

QList<LabelIssue> compareWithModel(const QString &path, const QList<Annotation> &stored,
                                   const QList<Annotation> &detections)
{
    QList<LabelIssue> issues;
    std::vector<QRectF> modelBoxes;
    modelBoxes.reserve(size_t(detections.size()));
    for (const Annotation &d : detections)
        modelBoxes.push_back(annotationBox(d));

    std::vector<QRectF> storedBoxes;
    storedBoxes.reserve(size_t(stored.size()));
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const Annotation &s = stored.at(i);
        const QRectF box = annotationBox(s);
        storedBoxes.push_back(box);

        // The first detection with the largest IoU; IoU 0 never matches.
        qsizetype best = -1;
        double bestIoU = 0.0;
        for (size_t k = 0; k < modelBoxes.size(); ++k) {
            const double iou = boxIoU(box, modelBoxes[k]);
            if (iou > bestIoU) {
                bestIoU = iou;
                best = qsizetype(k);
            }
        }

        const QString n = number(i + 1);
        if (best < 0 || bestIoU < kMatchIoU) {
            issues.append({path, LabelIssue::Kind::ModelMissed, {n, s.label, corners(box)}});
        } else if (bestIoU < kGoodIoU) {
            issues.append({path, LabelIssue::Kind::ModelOffset, {n, s.label, twoDecimals(bestIoU)}});
        } else if (detections.at(best).label != s.label) {
            issues.append({path, LabelIssue::Kind::ModelMislabel,
                           {n, s.label, detections.at(best).label, twoDecimals(bestIoU)}});
        }
    }

    for (qsizetype k = 0; k < detections.size(); ++k) {
        double bestIoU = 0.0;
        for (const QRectF &box : storedBoxes)
            bestIoU = qMax(bestIoU, boxIoU(modelBoxes[size_t(k)], box));
        if (bestIoU < kMatchIoU) {
            const Annotation &d = detections.at(k);
            issues.append({path, LabelIssue::Kind::ModelUnlabelled,
                           {d.label, corners(modelBoxes[size_t(k)]), twoDecimals(d.confidence)}});
        }
    }
    return issues;
}
