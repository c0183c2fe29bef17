#include "checker/labelchecks.h"

#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/shapekinds.h"

#include <QRectF>
#include <QSize>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <queue>
#include <tuple>
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

// For every box, the number of the first earlier box with the same label that it nearly covers
// (IoU > 0.95), or -1. Comparing every pair took minutes and gigabytes for a few thousand copies
// of one box; this sorts and sweeps. Identical boxes become neighbours in the sort, and all but the
// first of them are duplicates of it. The distinct boxes of a label are swept by their left edge;
// a box can only be a near-copy of boxes whose left and top edges lie within a small part of its
// size, so it is compared with those alone.
std::vector<qsizetype> earlierDuplicates(const QList<Annotation> &annotations, const std::vector<QRectF> &boxes)
{
    const size_t n = boxes.size();
    std::vector<qsizetype> firstCopy(n, -1);
    struct Entry
    {
        const QString *label;
        QRectF box;
        qsizetype number;
    };
    std::vector<Entry> entries;
    entries.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const QRectF &b = boxes[i];
        // Without an area a box overlaps nothing (IoU 0).
        if (std::isfinite(b.left()) && std::isfinite(b.top()) && std::isfinite(b.right()) && std::isfinite(b.bottom())
            && b.width() > 0 && b.height() > 0)
            entries.push_back({&annotations.at(qsizetype(i)).label, b, qsizetype(i)});
    }
    const auto key = [](const Entry &e) {
        return std::make_tuple(e.box.left(), e.box.top(), e.box.right(), e.box.bottom(), e.number);
    };
    std::sort(entries.begin(), entries.end(), [&key](const Entry &a, const Entry &b) {
        if (*a.label != *b.label)
            return *a.label < *b.label;
        return key(a) < key(b);
    });

    // IoU > t needs |left A - left B| <= (1 - t) * width A for A left of B, and |top A - top B| <=
    // (1 - t) / t * height B; the bounds are widened a little against rounding.
    const double t = kDuplicateIoU;
    const double widen = 1.001;
    std::vector<size_t> runFirst(entries.size());
    std::multimap<double, size_t> active;   // distinct boxes still in reach, by top edge
    std::vector<std::multimap<double, size_t>::iterator> place(entries.size());
    using Expiry = std::pair<double, size_t>;
    std::priority_queue<Expiry, std::vector<Expiry>, std::greater<Expiry>> expiries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &b = entries[i];
        const bool sameLabel = i > 0 && *entries[i - 1].label == *b.label;
        // Rotated boxes with one set of bounds can still turn different ways.
        if (sameLabel && entries[i - 1].box == b.box
            && shapeIoU(annotations.at(entries[i - 1].number), annotations.at(b.number)) > t) {
            runFirst[i] = runFirst[i - 1];
            continue;
        }
        runFirst[i] = i;
        if (!sameLabel) {
            active.clear();
            expiries = {};
        }
        while (!expiries.empty() && expiries.top().first < b.box.left()) {
            active.erase(place[expiries.top().second]);
            expiries.pop();
        }
        const double reach = (1 - t) / t * b.box.height() * widen;
        for (auto it = active.lower_bound(b.box.top() - reach); it != active.end() && it->first <= b.box.top() + reach;
             ++it) {
            const Entry &a = entries[it->second];
            if (boxIoU(a.box, b.box) <= t || shapeIoU(annotations.at(a.number), annotations.at(b.number)) <= t)
                continue;
            const qsizetype later = qMax(a.number, b.number);
            const qsizetype earlier = qMin(a.number, b.number);
            qsizetype &copy = firstCopy[size_t(later)];
            if (copy < 0 || earlier < copy)
                copy = earlier;
        }
        place[i] = active.emplace(b.box.top(), i);
        expiries.emplace(b.box.left() + (1 - t) * b.box.width() * widen, i);
    }
    // A copy of a box duplicates the first of its run, and whatever that one duplicates.
    for (size_t i = 0; i < entries.size(); ++i) {
        if (runFirst[i] == i)
            continue;
        const qsizetype first = entries[runFirst[i]].number;
        const qsizetype before = firstCopy[size_t(first)];
        firstCopy[size_t(entries[i].number)] = before >= 0 ? before : first;
    }
    return firstCopy;
}

} // namespace

void checkImage(const QString &path, const QStringList &classes, const std::function<void(const LabelIssue &)> &report)
{
    // The label files as found, in our layout or in another tool's, in the order they are read:
    // only the first format counts, so a second one is a finding.
    QStringList formats;
    if (!findVocFile(path).isEmpty())
        formats.append(QStringLiteral("VOC"));
    if (!findDotaFile(path).isEmpty())
        formats.append(QStringLiteral("DOTA"));
    if (!yoloLabelCandidates(path).isEmpty())
        formats.append(QStringLiteral("YOLO"));
    if (formats.isEmpty())
        return;
    if (!findLabelmeFile(path).isEmpty())
        formats.append(QStringLiteral("labelme"));
    if (formats == QStringList{QStringLiteral("VOC"), QStringLiteral("YOLO")})
        report({path, LabelIssue::Kind::FormatConflict, {}});
    else if (formats.size() > 1)
        report({path, LabelIssue::Kind::FormatConflict, {formats.first(), formats.mid(1).join(QStringLiteral(", "))}});

    // What could not be read is a finding of its own; the rules still look at what was read.
    const StoredAnnotations stored = readStoredAnnotations(path);
    if (!stored.complete()) {
        report({path, LabelIssue::Kind::UnreadableLabel,
                {stored.damagedFile, stored.problem.name(), QString::number(stored.problem.at)}});
    }
    const QList<Annotation> &annotations = stored.annotations;
    if (annotations.isEmpty())
        return;

    const QSize size = imageSize(path);   // invalid (-1 x -1) when unreadable
    const double w = size.width();
    const double h = size.height();
    const QString sizeW = QString::number(size.width());
    const QString sizeH = QString::number(size.height());

    std::vector<QRectF> boxes;
    boxes.reserve(size_t(annotations.size()));
    for (const Annotation &a : annotations)
        boxes.push_back(annotationBox(a));
    const std::vector<qsizetype> duplicates = earlierDuplicates(annotations, boxes);

    for (qsizetype i = 0; i < annotations.size(); ++i) {
        const Annotation &a = annotations.at(i);
        const QRectF &box = boxes[size_t(i)];
        const QString n = number(i + 1);

        if (box.left() < -kEdgeTolerance || box.top() < -kEdgeTolerance || box.right() > w + kEdgeTolerance
            || box.bottom() > h + kEdgeTolerance) {
            report({path, LabelIssue::Kind::OutsideImage,
                    {n, a.label, whole(box.left()), whole(box.top()), whole(box.right()), whole(box.bottom()), sizeW,
                     sizeH}});
        }
        // A thin rotated box has wide bounds: its own sides tell.
        if (const QSizeF sides = storedShapeKind(a).sides(a); sides.width() < kTinySide || sides.height() < kTinySide)
            report({path, LabelIssue::Kind::TinyBox, {n, a.label, whole(sides.width()), whole(sides.height())}});
        if (!classes.isEmpty() && !classes.contains(a.label))
            report({path, LabelIssue::Kind::UnknownCategory, {n, a.label}});
        if (const qsizetype m = duplicates[size_t(i)]; m >= 0) {
            report({path, LabelIssue::Kind::Duplicate, {n, number(m + 1), a.label}});
        }
    }
}

QList<LabelIssue> checkImage(const QString &path, const QStringList &classes)
{
    QList<LabelIssue> issues;
    checkImage(path, classes, [&issues](const LabelIssue &issue) { issues.append(issue); });
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
