#include "storage/labelconversion.h"

#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/keypoints.h"

#include <QFileInfo>

LabelConversion convertLabelFile(const QString &imagePath, bool toYolo, const QStringList &classNames)
{
    return convertLabelFile(imagePath, toYolo ? LabelFormat::Yolo : LabelFormat::Voc, classNames);
}

LabelConversion convertLabelFile(const QString &imagePath, LabelFormat to, const QStringList &classNames)
{
    LabelConversion result;
    const StoredAnnotations stored = readStoredAnnotations(imagePath);
    // An image without labels stays without: an empty file would mark it as labelled.
    if (stored.file.isEmpty())
        return result;
    if (!stored.complete()) {
        result.outcome = LabelConversion::Incomplete;
        result.file = stored.damagedFile;
        result.problem = stored.problem;
        return result;
    }
    // Circles, lines and points have no place in the other formats: converting would drop them.
    if (stored.kept > 0 && to != LabelFormat::Labelme) {
        result.outcome = LabelConversion::KeptShapes;
        result.file = stored.file;
        result.kept = stored.kept;
        return result;
    }
    // Without a size YOLO labels read as nothing: converting would delete them.
    if (imageSize(imagePath).isEmpty()) {
        result.outcome = LabelConversion::NoImageSize;
        return result;
    }
    // A pose dataset's rows carry keypoints that VOC, labelme and DOTA have no place for.
    if (to != LabelFormat::Yolo && stored.file.endsWith(QLatin1String(".txt"))) {
        const KeypointLayout pose = keypointLayoutFor(QFileInfo(stored.file).absolutePath());
        if (pose.isPose()) {
            result.outcome = LabelConversion::Keypoints;
            result.file = pose.file;
            return result;
        }
    }
    SaveReport report;
    if (!saveAnnotations(imagePath, stored.annotations, to, classNames, &report)) {
        result.outcome = LabelConversion::Failed;
        result.refusedLink = !report.refusedFile.isEmpty();
        result.file = result.refusedLink ? report.refusedFile : report.unreadableNamesFile;
        if (!report.keypointRowsFile.isEmpty()) {
            result.keypointRows = true;
            result.file = report.keypointRowsFile;
            return result;
        }
        if (!result.refusedLink && result.file.isEmpty() && report.namesNotice.classListFile.isEmpty()) {
            result.file = report.namesNotice.namesFile;
            result.missingNames = report.namesNotice.missingNames;
        }
        return result;
    }
    result.outcome = LabelConversion::Converted;
    result.outsideImage = report.outsideImage;
    result.count = countAnnotations(imagePath);
    return result;
}
