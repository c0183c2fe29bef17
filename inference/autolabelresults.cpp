#include "inference/autolabelresults.h"

#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"

#include <QSet>

namespace {

bool hasArea(const QRectF &box)
{
    return box.width() > 0.0 && box.height() > 0.0;
}

bool repeats(const Annotation &result, const QRectF &resultBox, const Annotation &existing)
{
    if (result.label.compare(existing.label, Qt::CaseInsensitive) != 0)
        return false;
    const QRectF existingBox = annotationBox(existing);
    return hasArea(existingBox) && boxIoU(resultBox, existingBox) > kOverlapIoU;
}

} // namespace

OverlapFilterResult filterOverlapping(const QList<Annotation> &existing, const QList<Annotation> &results)
{
    OverlapFilterResult out;
    for (const Annotation &result : results) {
        const QRectF box = annotationBox(result);
        bool dropped = false;
        if (hasArea(box)) {
            for (const Annotation &e : existing) {
                if (repeats(result, box, e)) {
                    dropped = true;
                    break;
                }
            }
        }
        if (dropped)
            ++out.dropped;
        else
            out.kept.append(result);
    }
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

bool writeConfirmedResults(const QString &imagePath, const QList<Annotation> &annotations, bool useYolo,
                           const QStringList &classNames)
{
    return saveAnnotations(imagePath, labelFileRecords(annotations), useYolo, classNames);
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
                                const QList<Annotation> &results, bool useYolo, const QStringList &classNames)
{
    CacheMergeResult out;
    auto entry = cache.find(imagePath);
    const QList<Annotation> existing = entry != cache.end() ? entry.value() : loadAnnotations(imagePath);
    OverlapFilterResult filtered = filterOverlapping(existing, results);
    out.kept = filtered.kept;
    out.dropped = filtered.dropped;
    if (out.kept.isEmpty())
        return out;

    const QList<Annotation> merged = mergeResults(existing, out.kept);
    cache.insert(imagePath, merged);
    if (hasConfirmed(out.kept)) {
        out.labelsWritten = writeConfirmedResults(imagePath, merged, useYolo, classNames);
        out.writeFailed = !out.labelsWritten;
    }
    return out;
}
