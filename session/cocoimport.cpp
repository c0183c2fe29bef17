#include "session/cocoimport.h"

#include "session/autolabelresults.h"
#include "shared/language.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

bool writeShapes(const QString &image, const QList<Annotation> &shapes, LabelFormat format,
                 const QStringList &categories)
{
    return saveEdit(image, shapes, editSaveTarget(image, format), categories);
}

} // namespace

QString describeCocoFailure(const CocoDocument &document)
{
    switch (document.failure) {
    case CocoDocument::Failure::None:
        break;
    case CocoDocument::Failure::Unreadable:
        return translateText("无法读取 %1").arg(document.failedPath);
    case CocoDocument::Failure::NotJson:
        return translateText("不是 JSON：%1（第 %2 字节）").arg(document.parserMessage).arg(document.parserOffset);
    case CocoDocument::Failure::NotInstances:
        return translateText("不是 COCO instances 文件：其中的 \"images\"、\"annotations\" 和 \"categories\" 应为列表");
    }
    return QString();
}

CocoImportSummary importCocoInto(const CocoDocument &document, const QString &dir, const QStringList &images,
                                 const CocoImportOptions &options)
{
    CocoImportSummary summary;
    const QDir root(dir);
    QHash<QString, QString> byRelativePath;
    QHash<QString, QStringList> byName;
    for (const QString &image : images) {
        byRelativePath.insert(QDir::cleanPath(root.relativeFilePath(image)), image);
        byName[QFileInfo(image).fileName()].append(image);
    }
    const LabelFormat found = firstLabelFormat(images);
    const LabelFormat format = found == LabelFormat::None ? options.newFileFormat : found;

    QSet<QString> named;
    for (const CocoImage &entry : document.images) {
        summary.rleRefused += entry.rleRefused;
        summary.unusable += entry.unusable;
        QString image = byRelativePath.value(QDir::cleanPath(entry.fileName));
        if (image.isEmpty()) {
            const QStringList sameName = byName.value(QFileInfo(entry.fileName).fileName());
            if (sameName.size() == 1)
                image = sameName.first();
        }
        if (image.isEmpty()) {
            summary.missing.append(entry.fileName);
            continue;
        }
        if (named.contains(image))
            continue;
        named.insert(image);
        // Shapes that were refused do not make an image a background image.
        if (entry.annotations.isEmpty() && (entry.rleRefused > 0 || entry.unusable > 0))
            continue;

        const StoredAnnotations stored = readStoredAnnotations(image);
        if (stored.file.isEmpty()) {
            if (writeShapes(image, entry.annotations, format, document.categories)) {
                summary.written.append(image);
                summary.annotations += entry.annotations.size();
            } else {
                summary.failed.append(image);
            }
            continue;
        }
        if (!options.merge) {
            summary.labelled.append(image);
            continue;
        }
        // What could not be read would be lost by a rewrite.
        if (!stored.complete()) {
            summary.failed.append(image);
            continue;
        }
        const OverlapFilterResult filtered = filterOverlapping(stored.annotations, entry.annotations);
        summary.duplicates += filtered.dropped;
        if (filtered.kept.isEmpty())
            continue;
        if (writeShapes(image, mergeResults(stored.annotations, filtered.kept), format, document.categories)) {
            summary.written.append(image);
            summary.annotations += filtered.kept.size();
        } else {
            summary.failed.append(image);
        }
    }
    for (const QString &image : images) {
        if (!named.contains(image))
            summary.unlisted.append(image);
    }
    return summary;
}
