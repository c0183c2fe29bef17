#include "storage/annotationstore.h"

#include "storage/datasetlayout.h"
#include "storage/vocfile.h"
#include "storage/yolofile.h"

#include <QFile>
#include <QFileInfo>

QList<Annotation> loadAnnotations(const QString &imagePath)
{
    const QString xml = vocXmlPath(imagePath);
    if (QFileInfo::exists(xml))
        return readVocFile(xml);
    const QStringList candidates = yoloLabelCandidates(imagePath);
    if (!candidates.isEmpty())
        return readYoloFile(imagePath, candidates.first());
    return {};
}

bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames)
{
    if (saveAsYolo) {
        if (!writeYoloFile(imagePath, annotations, classNames))
            return false;
        const QString mapped = yoloLabelPath(imagePath);
        for (const QString &candidate : yoloLabelCandidates(imagePath)) {
            if (candidate != mapped)
                QFile::remove(candidate);
        }
        // A VOC file that survives would be read instead of the labels just written.
        const QString xml = vocXmlPath(imagePath);
        return !QFileInfo::exists(xml) || QFile::remove(xml);
    }

    if (!writeVocFile(imagePath, annotations))
        return false;
    for (const QString &candidate : yoloLabelCandidates(imagePath))
        QFile::remove(candidate);
    return true;
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
