#include "storage/annotationstore.h"

#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
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

// A names file that a reading of the image's YOLO files uses and that cannot be read; empty when
// all can be read.
QString unreadableNamesFor(const QString &imagePath, const QStringList &candidates)
{
    if (candidates.isEmpty())
        return QString();
    const ClassNames ours = findClassNames(labelsDirFor(imagePath));
    if (!ours.ok)
        return ours.file;
    for (const QString &candidate : candidates) {
        const ClassNames names = findClassNames(QFileInfo(candidate).absolutePath());
        if (!names.ok)
            return names.file;
    }
    return QString();
}

bool isOurYoloPlace(const QString &imagePath, const QString &file)
{
    return file == yoloLabelPath(imagePath) || file == siblingYoloLabelPath(imagePath);
}

// A conversion removes the image's files of the other format; an edit keeps them.
enum class OtherFiles { Remove, Keep };

bool saveInto(const QString &imagePath, const QList<Annotation> &annotations, LabelFormat format,
              const QString &target, const QStringList &classNames, SaveReport *report, OtherFiles other)
{
    const bool saveAsYolo = format == LabelFormat::Yolo;
    if (report)
        *report = SaveReport();
    const auto refuse = [report](const QString &file) {
        if (report)
            report->refusedFile = file;
        return false;
    };
    const auto namesUnreadable = [report](const QString &file) {
        if (report)
            report->unreadableNamesFile = file;
        return false;
    };
    const bool convert = other == OtherFiles::Remove;
    const QString root = datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath());
    const QStringList candidates = yoloLabelCandidates(imagePath);
    // Labels read with unknown class names are numbers; writing them would lose the names.
    if (saveAsYolo || convert) {
        const QString unreadable = unreadableNamesFor(imagePath, candidates);
        if (!unreadable.isEmpty())
            return namesUnreadable(unreadable);
    }
    const QString xml = convert && format != LabelFormat::Voc ? findVocFile(imagePath) : QString();
    const QString dota = convert && format != LabelFormat::Dota ? findDotaFile(imagePath) : QString();
    // Refused before anything is written: a save either completes or changes nothing.
    if (!writeStaysInside(target, root))
        return refuse(target);
    QStringList removed;
    if (!dota.isEmpty())
        removed.append(dota);
    if (format == LabelFormat::Dota) {
        if (convert)
            removed += candidates;
        if (!xml.isEmpty())
            removed.append(xml);
    } else if (saveAsYolo) {
        for (const QString &candidate : candidates) {
            // An edit replaces only an older copy in our own places, never another tool's file.
            if (candidate != target && (convert || isOurYoloPlace(imagePath, candidate)))
                removed.append(candidate);
        }
        if (!xml.isEmpty())
            removed.append(xml);
    } else if (convert) {
        removed += candidates;
    }
    for (const QString &file : std::as_const(removed)) {
        if (!removalStaysInside(file, root))
            return refuse(file);
    }

    if (format == LabelFormat::Dota) {
        for (const QString &file : std::as_const(removed)) {
            if (!canRemove(file))
                return false;
        }
        if (!writeDotaFile(target, annotations, root))
            return false;
        if (report)
            report->labelFile = target;
        bool removedAll = true;
        for (const QString &file : std::as_const(removed))
            removedAll = QFile::remove(file) && removedAll;
        return removedAll;
    }
    if (saveAsYolo) {
        // A DOTA or VOC file that survives would be read instead of the labels just written.
        if (!dota.isEmpty() && !canRemove(dota))
            return false;
        // A VOC file that survives would be read instead of the labels just written.
        if (!xml.isEmpty() && !canRemove(xml))
            return false;
        if (!writeYoloFile(imagePath, annotations, classNames, target, report ? &report->namesNotice : nullptr)) {
            const QString labelsDir = QFileInfo(target).absolutePath();
            const ClassNames names = findClassNames(labelsDir);
            if (!names.ok)
                return namesUnreadable(names.file);
            const QString classList = labelsDir + QStringLiteral("/classes.txt");
            if (!writeStaysInside(classList, root))
                return refuse(classList);
            return false;
        }
        if (report)
            report->labelFile = target;
        // A stale copy left behind is read no more (the file just written is newer); a VOC or
        // DOTA file left behind would be.
        for (const QString &file : std::as_const(removed)) {
            if (file != xml && file != dota)
                QFile::remove(file);
        }
        const bool dotaGone = dota.isEmpty() || QFile::remove(dota);
        return (xml.isEmpty() || QFile::remove(xml)) && dotaGone;
    }

    // VOC has no place for keypoints: writing such boxes there would lose them.
    if (std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) { return !a.keypoints.isEmpty(); }))
        return false;
    for (const QString &file : std::as_const(removed)) {
        if (!canRemove(file))
            return false;
    }
    if (!writeVocFile(imagePath, annotations, target))
        return false;
    if (report)
        report->labelFile = target;
    bool removedAll = true;
    for (const QString &file : std::as_const(removed))
        removedAll = QFile::remove(file) && removedAll;
    return removedAll;
}

LabelFormat formatOf(const FoundLabelFile &found)
{
    if (found.path.isEmpty())
        return LabelFormat::None;
    if (found.isDota)
        return LabelFormat::Dota;
    return found.isVoc ? LabelFormat::Voc : LabelFormat::Yolo;
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
        stored.annotations = found.haveContent ? readVocBytes(found.content, &stored.problem)
                                               : readVocFile(found.path, &stored.problem);
        if (!stored.problem.isNone())
            stored.damagedFile = found.path;
    } else if (found.isDota) {
        stored.annotations = readDotaFile(found.path, &stored.problem);
        if (!stored.problem.isNone())
            stored.damagedFile = found.path;
    } else {
        stored.annotations = readYoloFile(imagePath, found.path, &stored.damagedFile, &stored.problem);
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
    return saveAnnotations(imagePath, annotations, saveAsYolo ? LabelFormat::Yolo : LabelFormat::Voc, classNames,
                           report);
}

bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, LabelFormat format,
                     const QStringList &classNames, SaveReport *report)
{
    QString target;
    if (format == LabelFormat::Dota) {
        target = dotaLabelPath(imagePath);
        if (target.isEmpty()) {
            if (report)
                *report = SaveReport();
            return false;
        }
    } else if (format == LabelFormat::Yolo) {
        target = yoloSaveTarget(imagePath, yoloLabelCandidates(imagePath));
    } else {
        const QString xml = findVocFile(imagePath);
        target = xml.isEmpty() ? newVocFilePath(imagePath) : xml;
    }
    return saveInto(imagePath, annotations, format, target, classNames, report, OtherFiles::Remove);
}

SaveTarget editSaveTarget(const QString &imagePath, bool newFileYolo)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    SaveTarget target;
    target.existing = !found.path.isEmpty();
    target.dota = target.existing ? found.isDota : inDotaFolder(imagePath);
    target.yolo = !target.dota && (target.existing ? !found.isVoc : newFileYolo);
    if (found.isVoc || found.isDota)
        target.file = found.path;
    else if (target.dota)
        target.file = dotaLabelPath(imagePath);
    else if (target.yolo)
        target.file = yoloSaveTarget(imagePath, yoloLabelCandidates(imagePath));
    else
        target.file = newVocFilePath(imagePath);
    return target;
}

bool saveEdit(const QString &imagePath, const QList<Annotation> &annotations, const SaveTarget &target,
              const QStringList &classNames, SaveReport *report)
{
    const LabelFormat format = target.dota ? LabelFormat::Dota : (target.yolo ? LabelFormat::Yolo : LabelFormat::Voc);
    return saveInto(imagePath, annotations, format, target.file, classNames, report, OtherFiles::Keep);
}

LabelFormat labelFormatOf(const QString &imagePath)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    return formatOf(found);
}

LabelFormat firstLabelFormat(const QStringList &imagePaths)
{
    for (const QString &path : imagePaths) {
        const LabelFormat format = labelFormatOf(path);
        if (format != LabelFormat::None)
            return format;
    }
    return LabelFormat::None;
}

int countAnnotations(const QString &imagePath, LabelFormat *format)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    if (format)
        *format = formatOf(found);
    if (found.path.isEmpty())
        return -1;
    if (found.isDota)
        return countDotaObjects(found.path);
    if (!found.isVoc)
        return countYoloLines(found.path);
    return found.haveContent ? countVocObjectsIn(found.content) : countVocObjects(found.path);
}
