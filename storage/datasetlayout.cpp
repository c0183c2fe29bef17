#include "storage/datasetlayout.h"

#include "storage/atomicfile.h"
#include "storage/filebytes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

namespace {

// Avoids a double slash when the image sits in the root directory.
QString joinPath(const QString &dir, const QString &name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

QString imageDir(const QString &imagePath)
{
    return QFileInfo(imagePath).absolutePath();
}

QString baseName(const QString &imagePath)
{
    return QFileInfo(imagePath).completeBaseName();
}

} // namespace

QString labelsDirFor(const QString &imagePath)
{
    const QString dir = imageDir(imagePath);
    const QString withSlash = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    const QLatin1String images("/images/");
    const qsizetype at = withSlash.lastIndexOf(images, -1, Qt::CaseInsensitive);
    if (at < 0)
        return joinPath(dir, QStringLiteral("labels"));
    return QDir::cleanPath(withSlash.left(at) + QLatin1String("/labels") + withSlash.mid(at + images.size() - 1));
}

QString yoloLabelPath(const QString &imagePath)
{
    return joinPath(labelsDirFor(imagePath), baseName(imagePath) + QLatin1String(".txt"));
}

QString siblingYoloLabelPath(const QString &imagePath)
{
    return joinPath(imageDir(imagePath), QLatin1String("labels/") + baseName(imagePath) + QLatin1String(".txt"));
}

QString annotationsDirFor(const QString &imagePath)
{
    return joinPath(imageDir(imagePath), QStringLiteral("annotations"));
}

QString vocXmlPath(const QString &imagePath)
{
    return annotationsDirFor(imagePath) + QLatin1Char('/') + baseName(imagePath) + QLatin1String(".xml");
}

QStringList yoloLabelCandidates(const QString &imagePath)
{
    const QString mapped = yoloLabelPath(imagePath);
    const QString sibling = siblingYoloLabelPath(imagePath);
    const QFileInfo mappedInfo(mapped);
    if (mapped == sibling)
        return mappedInfo.exists() ? QStringList{mapped} : QStringList{};

    const QFileInfo siblingInfo(sibling);
    const bool haveMapped = mappedInfo.exists();
    const bool haveSibling = siblingInfo.exists();
    if (haveMapped && haveSibling) {
        // A linked labels directory makes both one file; deleting the "stale copy" would delete it.
        if (siblingInfo.canonicalFilePath() == mappedInfo.canonicalFilePath())
            return {mapped};
        if (siblingInfo.lastModified() <= mappedInfo.lastModified())
            return {mapped, sibling};
        return {sibling, mapped};
    }
    if (haveMapped)
        return {mapped};
    if (haveSibling)
        return {sibling};
    return {};
}

QStringList readClassList(const QString &labelsDir, bool *ok)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(joinPath(labelsDir, QStringLiteral("classes.txt")), &bytes);
    if (ok)
        *ok = read != FileRead::Unreadable;
    QStringList names;
    for (const QString &line : splitLines(QString::fromUtf8(bytes))) {
        const QString name = line.trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

bool writeClassList(const QString &imagePath, const QStringList &classNames)
{
    const QString dir = labelsDirFor(imagePath);
    QDir().mkpath(dir);
    QByteArray bytes;
    for (const QString &name : classNames) {
        bytes += name.toUtf8();
        bytes += '\n';
    }
    const QString path = joinPath(dir, QStringLiteral("classes.txt"));
    QByteArray current;
    if (readRegularFile(path, &current) == FileRead::Ok && current == bytes)
        return true;
    return writeFileAtomically(path, bytes);
}

QSize imageSize(const QString &imagePath)
{
    if (!isRegularFile(imagePath))
        return QSize();
    QImageReader reader(imagePath);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid())
        return QSize();
    // The reader reports the stored size even with auto-transform on.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    return size;
}
