#include "storage/annotationstore.h"

#include "storage/datasetlayout.h"
#include "storage/vocfile.h"
#include "storage/yolofile.h"

#include <QFile>
#include <QFileInfo>

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

// False when a class list that a reading of the image's YOLO files uses cannot be read.
bool classListsReadable(const QString &imagePath, const QStringList &candidates)
{
    if (candidates.isEmpty())
        return true;
    bool ok = true;
    readClassList(labelsDirFor(imagePath), &ok);
    for (const QString &candidate : candidates) {
        if (!ok)
            break;
        readClassList(QFileInfo(candidate).absolutePath(), &ok);
    }
    return ok;
}

} // namespace

StoredAnnotations readStoredAnnotations(const QString &imagePath)
{
    StoredAnnotations stored;
    const QString xml = vocXmlPath(imagePath);
    if (QFileInfo::exists(xml)) {
        stored.file = xml;
        bool complete = false;
        stored.annotations = readVocFile(xml, &complete);
        if (!complete)
            stored.damagedFile = xml;
        return stored;
    }
    const QStringList candidates = yoloLabelCandidates(imagePath);
    if (!candidates.isEmpty()) {
        stored.file = candidates.first();
        stored.annotations = readYoloFile(imagePath, stored.file, &stored.damagedFile);
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
    const QStringList candidates = yoloLabelCandidates(imagePath);
    // Labels read with unknown class names are numbers; writing them would lose the names.
    if (!classListsReadable(imagePath, candidates))
        return false;

    if (saveAsYolo) {
        const QString xml = vocXmlPath(imagePath);
        const bool haveXml = QFileInfo::exists(xml);
        // A VOC file that survives would be read instead of the labels just written.
        if (haveXml && !canRemove(xml))
            return false;
        if (!writeYoloFile(imagePath, annotations, classNames))
            return false;
        const QString mapped = yoloLabelPath(imagePath);
        for (const QString &candidate : candidates) {
            if (candidate != mapped)
                QFile::remove(candidate);
        }
        return !haveXml || QFile::remove(xml);
    }

    for (const QString &candidate : candidates) {
        if (!canRemove(candidate))
            return false;
    }
    if (!writeVocFile(imagePath, annotations))
        return false;
    bool removed = true;
    for (const QString &candidate : candidates)
        removed = QFile::remove(candidate) && removed;
    return removed;
}

int countAnnotations(const QString &imagePath)
{
    const QString xml = vocXmlPath(imagePath);
    if (QFileInfo::exists(xml))
        return countVocObjects(xml);
    const QStringList candidates = yoloLabelCandidates(imagePath);
    if (!candidates.isEmpty())
        return countYoloLines(candidates.first());
    return -1;
}
