#include "session/autolabelresults.h"

#include "storage/dotafile.h"
#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

// True when the image's label file holds more than the records read from it, or cannot be read.
bool labelsUnreadable(const QString &imagePath, const QList<Annotation> &existing)
{
    qsizetype stored = 0;
    for (const Annotation &a : existing)
        stored += a.pending == 0 ? 1 : 0;
    const int count = countAnnotations(imagePath);
    if (count >= 0)
        return count > stored;
    return QFileInfo::exists(vocXmlPath(imagePath)) || !findDotaFile(imagePath).isEmpty()
        || !yoloLabelCandidates(imagePath).isEmpty();
}

bool hasArea(const QRectF &box)
{
    return box.width() > 0.0 && box.height() > 0.0;
}

// A shape as the filter compares it; the box is worked out once per shape, not once per pair.
struct Compared
{
    const Annotation *annotation;
    QRectF box;
};

QList<Compared> compared(const QList<Annotation> &annotations)
{
    QList<Compared> out;
    out.reserve(annotations.size());
    for (const Annotation &a : annotations)
        out.append({&a, annotationBox(a)});
    return out;
}

// Boxes without a positive area never repeat anything. The cheap test first: a model may answer
// with thousands of shapes.
bool repeats(const Compared &a, const Compared &b)
{
    return hasArea(a.box) && hasArea(b.box) && boxIoU(a.box, b.box) > kOverlapIoU
        && a.annotation->label.compare(b.annotation->label, Qt::CaseInsensitive) == 0;
}

} // namespace

OverlapFilterResult filterOverlapping(const QList<Annotation> &existing, const QList<Annotation> &results)
{
    const QList<Compared> there = compared(existing);
    const QList<Compared> answer = compared(results);
    // First against what is there, then among the survivors: a model that repeats itself keeps
    // its most confident copy (the first of equals), so the image holds no duplicate either way.
    QList<qsizetype> survivors;
    for (qsizetype i = 0; i < answer.size(); ++i) {
        const auto repeated = [&](const Compared &e) { return repeats(answer.at(i), e); };
        if (std::none_of(there.cbegin(), there.cend(), repeated))
            survivors.append(i);
    }
    QList<qsizetype> byConfidence = survivors;
    std::stable_sort(byConfidence.begin(), byConfidence.end(), [&results](qsizetype a, qsizetype b) {
        return results.at(a).confidence > results.at(b).confidence;
    });
    QList<bool> keep(results.size(), false);
    QList<qsizetype> kept;
    for (const qsizetype i : std::as_const(byConfidence)) {
        const auto repeated = [&](qsizetype k) { return repeats(answer.at(i), answer.at(k)); };
        if (std::none_of(kept.cbegin(), kept.cend(), repeated)) {
            kept.append(i);
            keep[i] = true;
        }
    }

    OverlapFilterResult out;
    for (const qsizetype i : std::as_const(survivors)) {
        if (keep.at(i))
            out.kept.append(results.at(i));
    }
    out.dropped = int(results.size() - out.kept.size());
    return out;
}

QList<Annotation> mergeResults(const QList<Annotation> &existing, const QList<Annotation> &kept)
{
    return existing + kept;
}

QList<Annotation> labelFileRecords(const QList<Annotation> &annotations)
{
    QList<Annotation> out;
    for (const Annotation &a : annotations) {
        if (a.pending == 0 && !a.label.isEmpty())
            out.append(a);
    }
    return out;
}

bool hasConfirmed(const QList<Annotation> &annotations)
{
    for (const Annotation &a : annotations) {
        if (a.pending == 0)
            return true;
    }
    return false;
}

bool writeConfirmedResults(const QString &imagePath, const QList<Annotation> &annotations, LabelFormat newFileFormat,
                           const QStringList &classNames, SaveReport *report)
{
    return saveEdit(imagePath, labelFileRecords(annotations), editSaveTarget(imagePath, newFileFormat), classNames,
                    report);
}

QList<Annotation> cacheEntry(const QString &imagePath, const QList<Annotation> &pendingRecords)
{
    return loadAnnotations(imagePath) + pendingRecords;
}

AnnotationCache loadPendingCache(const QString &imageDir, const QStringList &listedImages)
{
    const AnnotationCache pending = readPendingFile(imageDir);
    AnnotationCache cache;
    if (pending.isEmpty())
        return cache;
    const QSet<QString> listed(listedImages.cbegin(), listedImages.cend());
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (listed.contains(it.key()))
            cache.insert(it.key(), cacheEntry(it.key(), it.value()));
    }
    return cache;
}

CacheMergeResult mergeIntoCache(AnnotationCache &cache, const QString &imagePath,
                                const QList<Annotation> &results, LabelFormat newFileFormat, const QStringList &classNames)
{
    CacheMergeResult out;
    const auto entry = cache.constFind(imagePath);
    const QList<Annotation> existing = entry != cache.cend() ? entry.value() : loadAnnotations(imagePath);
    const OverlapFilterResult filtered = filterOverlapping(existing, results);
    out.kept = filtered.kept;
    out.dropped = filtered.dropped;
    if (out.kept.isEmpty())
        return out;

    if (hasConfirmed(out.kept)) {
        out.labelsUnreadable = labelsUnreadable(imagePath, existing);
        SaveReport report;
        out.labelsWritten = !out.labelsUnreadable
            && writeConfirmedResults(imagePath, mergeResults(existing, out.kept), newFileFormat, classNames, &report);
        out.unreadableNamesFile = report.unreadableNamesFile;
        out.keypointRowsFile = report.keypointRowsFile;
        out.outsideImage = report.outsideImage;
        out.writeFailed = !out.labelsWritten;
        if (out.writeFailed) {
            for (Annotation &a : out.kept)
                a.pending = 1;
        }
    }
    cache.insert(imagePath, mergeResults(existing, out.kept));
    return out;
}
