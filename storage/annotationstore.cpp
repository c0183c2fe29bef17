#include "storage/annotationstore.h"

#include "storage/annotationgeometry.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/filebytes.h"
#include "storage/keypoints.h"
#include "storage/labelmefile.h"
#include "storage/shapekinds.h"
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

// The records as a label file may hold them: clipped to the image, none wholly outside it.
QList<Annotation> insideImage(const QString &imagePath, const QList<Annotation> &annotations, int *outside)
{
    const QSize size = imageSize(imagePath);
    QList<Annotation> kept;
    kept.reserve(annotations.size());
    for (const Annotation &a : annotations) {
        if (const std::optional<Annotation> clipped = clippedToImage(a, QSizeF(size)))
            kept.append(*clipped);
        else
            ++*outside;
    }
    return kept;
}

bool saveInto(const QString &imagePath, const QList<Annotation> &given, LabelFormat format,
              const QString &target, const QStringList &classNames, SaveReport *report, OtherFiles other)
{
    if (report)
        *report = SaveReport();
    int outside = 0;
    const QList<Annotation> annotations = insideImage(imagePath, given, &outside);
    if (report)
        report->outsideImage = outside;
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
    const bool saveAsYolo = format == LabelFormat::Yolo;
    const QString root = datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath());
    const QStringList candidates = yoloLabelCandidates(imagePath);
    // Labels read with unknown class names are numbers; writing them would lose the names.
    if (saveAsYolo || convert) {
        const QString unreadable = unreadableNamesFor(imagePath, candidates);
        if (!unreadable.isEmpty())
            return namesUnreadable(unreadable);
    }
    const QString xml = convert ? findVocFile(imagePath) : QString();
    const QString json = convert ? findLabelmeFile(imagePath) : QString();
    const QString dota = convert ? findDotaFile(imagePath) : QString();
    // Refused before anything is written: a save either completes or changes nothing.
    if (!writeStaysInside(target, root))
        return refuse(target);
    // Another tool's JSON of that name is not ours to replace.
    if (format == LabelFormat::Labelme && QFileInfo::exists(target) && findLabelmeFile(imagePath) != target)
        return false;
    // Files of another format must go in a conversion: one that survived would be read instead of
    // (or beside) the labels just written. Older copies of our own YOLO file go where they can.
    QStringList otherFormats;
    QStringList staleCopies;
    for (const QString &candidate : candidates) {
        if (candidate == target)
            continue;
        if (!saveAsYolo && convert)
            otherFormats.append(candidate);
        // An edit replaces only an older copy in our own places, never another tool's file.
        else if (saveAsYolo && (convert || isOurYoloPlace(imagePath, candidate)))
            staleCopies.append(candidate);
    }
    if (!xml.isEmpty() && xml != target)
        otherFormats.append(xml);
    if (!json.isEmpty() && json != target)
        otherFormats.append(json);
    if (!dota.isEmpty() && dota != target)
        otherFormats.append(dota);
    for (const QString &file : otherFormats + staleCopies) {
        if (!removalStaysInside(file, root))
            return refuse(file);
    }
    // Only YOLO rows have room for keypoints: writing such boxes elsewhere would lose them.
    if (!saveAsYolo
        && std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) { return !a.keypoints.isEmpty(); }))
        return false;
    // Asked before anything is written.
    for (const QString &file : std::as_const(otherFormats)) {
        if (!canRemove(file))
            return false;
    }

    if (saveAsYolo) {
        const KeypointLayout pose = keypointLayoutFor(QFileInfo(target).absolutePath());
        if (pose.isPose() && std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) {
                return storedShapeKind(a).hasOutline() && !classListEntry(a.label).isEmpty();
            })) {
            if (report)
                report->keypointRowsFile = pose.file;
            return false;
        }
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
    } else if (format == LabelFormat::Labelme) {
        if (!writeLabelmeFile(imagePath, annotations, target, root))
            return false;
    } else if (format == LabelFormat::Dota) {
        if (!writeDotaFile(target, annotations, root))
            return false;
    } else if (!writeVocFile(imagePath, annotations, target)) {
        return false;
    }
    if (report)
        report->labelFile = target;
    // A stale copy left behind is read no more (the file just written is newer).
    for (const QString &file : std::as_const(staleCopies))
        QFile::remove(file);
    bool removedAll = true;
    for (const QString &file : std::as_const(otherFormats))
        removedAll = QFile::remove(file) && removedAll;
    return removedAll;
}

LabelFormat formatOf(const FoundLabelFile &found)
{
    if (found.path.isEmpty())
        return LabelFormat::None;
    if (found.isDota)
        return LabelFormat::Dota;
    return found.isVoc ? LabelFormat::Voc : found.isLabelme ? LabelFormat::Labelme : LabelFormat::Yolo;
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
    } else if (found.isLabelme) {
        const LabelmeShapes shapes = found.haveContent ? readLabelmeBytes(found.content, &stored.problem)
                                                       : readLabelmeFile(found.path, &stored.problem);
        stored.annotations = shapes.annotations;
        stored.kept = shapes.kept;
        stored.keptShapes = shapes.keptShapes;
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
    } else if (format == LabelFormat::Labelme) {
        target = labelmeJsonPath(imagePath);
    } else {
        format = LabelFormat::Voc;
        const QString xml = findVocFile(imagePath);
        target = xml.isEmpty() ? newVocFilePath(imagePath) : xml;
    }
    return saveInto(imagePath, annotations, format, target, classNames, report, OtherFiles::Remove);
}

SaveTarget editSaveTarget(const QString &imagePath, bool newFileYolo)
{
    return editSaveTarget(imagePath, newFileYolo ? LabelFormat::Yolo : LabelFormat::Voc);
}

SaveTarget editSaveTarget(const QString &imagePath, LabelFormat newFileFormat)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    SaveTarget target;
    target.existing = !found.path.isEmpty();
    if (target.existing)
        target.format = formatOf(found);
    else if (inDotaFolder(imagePath))
        target.format = LabelFormat::Dota;
    else
        // DOTA files have a place only in a DOTA folder.
        target.format = newFileFormat == LabelFormat::None || newFileFormat == LabelFormat::Dota ? LabelFormat::Voc
                                                                                                  : newFileFormat;
    if (found.isVoc || found.isLabelme || found.isDota)
        target.file = found.path;
    else if (target.format == LabelFormat::Dota)
        target.file = dotaLabelPath(imagePath);
    else if (target.format == LabelFormat::Yolo)
        target.file = yoloSaveTarget(imagePath, yoloLabelCandidates(imagePath));
    else if (target.format == LabelFormat::Labelme)
        target.file = labelmeJsonPath(imagePath);
    else
        target.file = newVocFilePath(imagePath);
    return target;
}

bool saveEdit(const QString &imagePath, const QList<Annotation> &annotations, const SaveTarget &target,
              const QStringList &classNames, SaveReport *report)
{
    return saveInto(imagePath, annotations, target.format, target.file, classNames, report, OtherFiles::Keep);
}

QString labelFormatName(LabelFormat format)
{
    switch (format) {
    case LabelFormat::None: break;
    case LabelFormat::Voc: return QStringLiteral("voc");
    case LabelFormat::Yolo: return QStringLiteral("yolo");
    case LabelFormat::Labelme: return QStringLiteral("labelme");
    case LabelFormat::Dota: return QStringLiteral("dota");
    }
    return QString();
}

LabelFormat labelFormatNamed(const QString &name)
{
    for (const LabelFormat format : {LabelFormat::Voc, LabelFormat::Yolo, LabelFormat::Labelme, LabelFormat::Dota}) {
        if (name == labelFormatName(format))
            return format;
    }
    return LabelFormat::None;
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
    if (found.isLabelme) {
        QByteArray bytes = found.content;
        if (!found.haveContent && readRegularFile(found.path, &bytes) != FileRead::Ok)
            return -1;
        return countLabelmeShapes(bytes);
    }
    if (!found.isVoc)
        return countYoloLines(found.path);
    return found.haveContent ? countVocObjectsIn(found.content) : countVocObjects(found.path);
}
