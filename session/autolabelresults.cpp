#include "session/autolabelresults.h"

#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

#include <QFileInfo>

#include <QSet>

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
    return QFileInfo::exists(vocXmlPath(imagePath)) || !yoloLabelCandidates(imagePath).isEmpty();
}

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
    const auto entry = cache.constFind(imagePath);
    const QList<Annotation> existing = entry != cache.cend() ? entry.value() : loadAnnotations(imagePath);
    const OverlapFilterResult filtered = filterOverlapping(existing, results);
    out.kept = filtered.kept;
    out.dropped = filtered.dropped;
    if (out.kept.isEmpty())
        return out;

    if (hasConfirmed(out.kept)) {
        out.labelsUnreadable = labelsUnreadable(imagePath, existing);
        out.labelsWritten = !out.labelsUnreadable
            && writeConfirmedResults(imagePath, mergeResults(existing, out.kept), useYolo, classNames);
        out.writeFailed = !out.labelsWritten;
        if (out.writeFailed) {
            for (Annotation &a : out.kept)
                a.pending = 1;
        }
    }
    cache.insert(imagePath, mergeResults(existing, out.kept));
    return out;
}
