#include "storage/annotationstore.h"

#include "storage/datasetlayout.h"
#include "storage/vocfile.h"
#include "storage/writeguard.h"
#include "storage/yolofile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Removing a file needs write access to its folder; asked before anything is written.
bool canRemove(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) == 0;
#else
    return QFileInfo(QFileInfo(path).absolutePath()).isWritable();
#endif
}

// False when class names that a reading of the image's YOLO files uses cannot be read.
bool classNamesReadable(const QString &imagePath, const QStringList &candidates)
{
    if (candidates.isEmpty())
        return true;
    if (!findClassNames(labelsDirFor(imagePath)).ok)
        return false;
    return std::all_of(candidates.cbegin(), candidates.cend(), [](const QString &candidate) {
        return findClassNames(QFileInfo(candidate).absolutePath()).ok;
    });
}

} // namespace

StoredAnnotations readStoredAnnotations(const QString &imagePath)
{
    StoredAnnotations stored;
    const FoundLabelFile found = findLabelFile(imagePath);
    stored.file = found.path;
    if (found.path.isEmpty())
        return stored;
    if (found.isVoc) {
        bool complete = false;
        stored.annotations = found.haveContent ? readVocBytes(found.content, &complete)
                                               : readVocFile(found.path, &complete);
        if (!complete)
            stored.damagedFile = found.path;
    } else {
        stored.annotations = readYoloFile(imagePath, found.path, &stored.damagedFile);
    }
    return stored;
}

QList<Annotation> loadAnnotations(const QString &imagePath)
{
    return readStoredAnnotations(imagePath).annotations;
}

bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames)
{
    return saveAnnotations(imagePath, annotations, saveAsYolo, classNames, nullptr);
}

bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames, SaveReport *report)
{
    if (report)
        *report = SaveReport();
    const auto refuse = [report](const QString &file) {
        if (report)
            report->refusedFile = file;
        return false;
    };
    const QString root = datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath());
    const QStringList candidates = yoloLabelCandidates(imagePath);
    // Labels read with unknown class names are numbers; writing them would lose the names.
    if (!classNamesReadable(imagePath, candidates))
        return false;
    const QString xml = findVocFile(imagePath);
    const QString target = saveAsYolo ? yoloSaveTarget(imagePath, candidates)
                                      : (xml.isEmpty() ? vocXmlPath(imagePath) : xml);
    // Refused before anything is written: a save either completes or changes nothing.
    if (!writeStaysInside(target, root))
        return refuse(target);
    QStringList removed = candidates;
    removed.removeAll(target);
    if (saveAsYolo && !xml.isEmpty())
        removed.append(xml);
    for (const QString &file : std::as_const(removed)) {
        if (!removalStaysInside(file, root))
            return refuse(file);
    }

    if (saveAsYolo) {
        // A VOC file that survives would be read instead of the labels just written.
        if (!xml.isEmpty() && !canRemove(xml))
            return false;
        if (!writeYoloFile(imagePath, annotations, classNames, target, report ? &report->namesNotice : nullptr)) {
            const QString classList = QFileInfo(target).absolutePath() + QStringLiteral("/classes.txt");
            if (!writeStaysInside(classList, root))
                return refuse(classList);
            return false;
        }
        if (report)
            report->labelFile = target;
        for (const QString &candidate : candidates) {
            if (candidate != target)
                QFile::remove(candidate);
        }
        return xml.isEmpty() || QFile::remove(xml);
    }

    for (const QString &candidate : candidates) {
        if (!canRemove(candidate))
            return false;
    }
    if (!writeVocFile(imagePath, annotations, target))
        return false;
    if (report)
        report->labelFile = target;
    bool removedAll = true;
    for (const QString &candidate : candidates)
        removedAll = QFile::remove(candidate) && removedAll;
    return removedAll;
}

int countAnnotations(const QString &imagePath)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    if (found.path.isEmpty())
        return -1;
    if (!found.isVoc)
        return countYoloLines(found.path);
    return found.haveContent ? countVocObjectsIn(found.content) : countVocObjects(found.path);
}
