#include "storage/datasetlayout.h"

#include "storage/atomicfile.h"
#include "storage/classnames.h"
#include "storage/dotafile.h"
#include "storage/filebytes.h"
#include "storage/folderlisting.h"
#include "storage/labelmefile.h"
#include "storage/vocfile.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// Avoids a double slash when the image sits in the root directory.
QString joinPath(const QString &dir, const QString &name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

struct ImageParts
{
    QString dir;   // absolute, no trailing slash (except the root)
    QString base;  // file name without its last suffix
};

// An absolute path without "." or ".." parts, as the directory listing gives it.
bool isPlainAbsolute(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('/'))
        && !path.contains(QLatin1String("//")) && !path.contains(QLatin1String("/./"))
        && !path.contains(QLatin1String("/../")) && !path.endsWith(QLatin1String("/."))
        && !path.endsWith(QLatin1String("/.."));
}

// The state scanner asks for every image: plain paths are split without a QFileInfo.
ImageParts partsOf(const QString &imagePath)
{
    if (!isPlainAbsolute(imagePath)) {
        const QFileInfo info(imagePath);
        return {info.absolutePath(), info.completeBaseName()};
    }
    const qsizetype slash = imagePath.lastIndexOf(QLatin1Char('/'));
    const QStringView name = QStringView(imagePath).mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return {slash == 0 ? QStringLiteral("/") : imagePath.left(slash),
            (dot < 0 ? name : name.left(dot)).toString()};
}

// The last component of a folder path.
QStringView folderName(const QString &dir)
{
    return QStringView(dir).mid(dir.lastIndexOf(QLatin1Char('/')) + 1);
}

QString mappedLabelsDir(const QString &dir)
{
    const QString withSlash = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    const QLatin1String images("/images/");
    const qsizetype at = withSlash.lastIndexOf(images, -1, Qt::CaseInsensitive);
    if (at < 0)
        return joinPath(dir, QStringLiteral("labels"));
    return QDir::cleanPath(withSlash.left(at) + QLatin1String("/labels") + withSlash.mid(at + images.size() - 1));
}

// Called a few times per image by the state scanner: a plain stat, without QFileInfo's caching.
bool fileExists(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
#else
    return QFileInfo::exists(path);
#endif
}

// Whether dir/name exists, from the listing when it is known.
bool entryExists(const FolderListing &listing, const QString &dir, const QString &name)
{
    return listing.known() ? listing.contains(name) : fileExists(joinPath(dir, name));
}

bool isClassListName(const QString &base)
{
    return base.compare(QLatin1String("classes"), Qt::CaseInsensitive) == 0;
}

// A .txt beside an image is a label file only in a folder that a YOLO tool wrote: one with a
// names file in it or in its parent. Known folders are remembered per thread while the names
// file that made them known still exists.
bool besideTextIsLabels(const QString &dir, const FolderListing &listing)
{
    const QString objNames = QStringLiteral("obj.names");
    const QString classes = QStringLiteral("classes.txt");
    if (listing.known() && (listing.contains(objNames) || listing.contains(classes)))
        return true;
    thread_local QHash<QString, QString> known;
    const auto it = known.constFind(dir);
    if (it != known.cend() && fileExists(*it))
        return true;
    const QString parent = QFileInfo(dir).absolutePath();
    for (const QString &folder : {dir, parent}) {
        for (const QString &name : {objNames, classes}) {
            const QString path = joinPath(folder, name);
            if (fileExists(path)) {
                if (known.size() >= 256)
                    known.clear();
                known.insert(dir, path);
                return true;
            }
        }
    }
    known.remove(dir);
    return false;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// Our two YOLO places, the newer first. Either may be ruled out beforehand (the listing of the
// image folder shows no "labels" folder), which spares the state scanner a lookup.
QStringList ourCandidates(const QString &mapped, bool mappedMayExist, const QString &sibling,
                          bool siblingMayExist)
{
    if (mapped == sibling)
        return mappedMayExist && fileExists(mapped) ? QStringList{mapped} : QStringList{};

    const bool haveMapped = mappedMayExist && fileExists(mapped);
    const bool haveSibling = siblingMayExist && fileExists(sibling);
    if (haveMapped && haveSibling) {
        const QFileInfo mappedInfo(mapped);
        const QFileInfo siblingInfo(sibling);
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

// A label file as found; when finding it meant reading it, its bytes come along.
struct SeenFile
{
    QString path;        // empty when none
    QByteArray content;  // the whole file when the search read it
    bool haveContent = false;
};

// Takes path when it may exist and test finds it is that format's file (reading it into found).
bool takeIf(const QString &path, bool mayExist, bool (*test)(const QString &, QByteArray *, bool *), SeenFile *found)
{
    if (!mayExist || !test(path, &found->content, &found->haveContent))
        return false;
    found->path = path;
    return true;
}

SeenFile vocFileOf(const ImageParts &p, const FolderListing &listing)
{
    SeenFile found;
    const QString xmlName = p.base + QLatin1String(".xml");
    const QString ours = joinPath(p.dir, QLatin1String("annotations/") + xmlName);
    if (listing.mayContain(QStringLiteral("annotations")) && fileExists(ours)) {
        found.path = ours;
        return found;
    }
    if (takeIf(joinPath(p.dir, xmlName), listing.mayContain(xmlName), isVocAnnotationFile, &found))
        return found;
    const QString devkit = labelFolderBeside(p.dir, QLatin1String("JPEGImages"), QLatin1String("Annotations"));
    if (takeIf(joinPath(devkit, xmlName), !devkit.isEmpty(), isVocAnnotationFile, &found))
        return found;
    return SeenFile();
}

QStringList yoloFilesOf(const ImageParts &p, const FolderListing &listing)
{
    if (isClassListName(p.base))
        return {};
    const QString txtName = p.base + QLatin1String(".txt");
    const QString labelsDir = mappedLabelsDir(p.dir);
    const bool labelsBeside = listing.mayContain(QStringLiteral("labels"));
    const bool mappedBeside = labelsDir == joinPath(p.dir, QStringLiteral("labels"));
    QStringList found = ourCandidates(joinPath(labelsDir, txtName), !mappedBeside || labelsBeside,
                                      joinPath(p.dir, QLatin1String("labels/") + txtName), labelsBeside);
    const QString beside = joinPath(p.dir, txtName);
    if (entryExists(listing, p.dir, txtName) && besideTextIsLabels(p.dir, listing)) {
        const bool linked = std::any_of(found.cbegin(), found.cend(),
                                        [&beside](const QString &file) { return sameFile(file, beside); });
        if (!linked)
            found.append(beside);
    }
    return found;
}

SeenFile labelmeFileOf(const ImageParts &p, const FolderListing &listing)
{
    SeenFile found;
    const QString jsonName = p.base + QLatin1String(".json");
    takeIf(joinPath(p.dir, jsonName), listing.mayContain(jsonName), isLabelmeFile, &found);
    return found;
}

} // namespace

QString labelmeJsonPath(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return joinPath(p.dir, p.base + QLatin1String(".json"));
}

QString findLabelmeFile(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return labelmeFileOf(p, FolderListing::of(p.dir)).path;
}

QString labelsDirFor(const QString &imagePath)
{
    return mappedLabelsDir(QFileInfo(imagePath).absolutePath());
}

QString yoloLabelPath(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return joinPath(mappedLabelsDir(p.dir), p.base + QLatin1String(".txt"));
}

QString siblingYoloLabelPath(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return joinPath(p.dir, QLatin1String("labels/") + p.base + QLatin1String(".txt"));
}

QString annotationsDirFor(const QString &imagePath)
{
    return joinPath(QFileInfo(imagePath).absolutePath(), QStringLiteral("annotations"));
}

QString vocXmlPath(const QString &imagePath)
{
    return annotationsDirFor(imagePath) + QLatin1Char('/') + QFileInfo(imagePath).completeBaseName()
        + QLatin1String(".xml");
}

QString newVocFilePath(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    const QString devkit = labelFolderBeside(p.dir, QLatin1String("JPEGImages"), QLatin1String("Annotations"));
    if (!devkit.isEmpty() && !QFileInfo(joinPath(p.dir, QStringLiteral("annotations"))).isDir()) {
        const QString file = joinPath(devkit, p.base + QLatin1String(".xml"));
        // Another tool's XML of that name is not ours to replace.
        if (QFileInfo(devkit).isDir() && !QFileInfo::exists(file))
            return file;
    }
    return vocXmlPath(imagePath);
}

QString labelFolderBeside(const QString &imageDir, QLatin1String imageFolder, QLatin1String labelFolder)
{
    if (folderName(imageDir).compare(imageFolder, Qt::CaseInsensitive) != 0)
        return QString();
    return joinPath(QFileInfo(imageDir).absolutePath(), labelFolder);
}

QString datasetRootOfImageFolder(const QString &imageDir)
{
    const QString dir = QDir::cleanPath(QFileInfo(imageDir).absoluteFilePath());
    QString root = commonFolder(dir, mappedLabelsDir(dir));
    if (folderName(dir).compare(QLatin1String("JPEGImages"), Qt::CaseInsensitive) == 0)
        root = commonFolder(root, QFileInfo(dir).absolutePath());
    return root;
}

QString findVocFile(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return vocFileOf(p, FolderListing::of(p.dir)).path;
}

QStringList yoloLabelCandidates(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    return yoloFilesOf(p, FolderListing::of(p.dir));
}

FoundLabelFile findLabelFile(const QString &imagePath)
{
    const ImageParts p = partsOf(imagePath);
    const FolderListing listing = FolderListing::of(p.dir);
    FoundLabelFile found;
    SeenFile xml = vocFileOf(p, listing);
    if (!xml.path.isEmpty()) {
        found.path = xml.path;
        found.isVoc = true;
        found.content = std::move(xml.content);
        found.haveContent = xml.haveContent;
        return found;
    }
    found.path = findDotaFile(imagePath);
    if (!found.path.isEmpty()) {
        found.isDota = true;
        return found;
    }
    const QStringList yolo = yoloFilesOf(p, listing);
    if (!yolo.isEmpty()) {
        found.path = yolo.first();
        return found;
    }
    SeenFile json = labelmeFileOf(p, listing);
    found.path = json.path;
    found.isLabelme = !json.path.isEmpty();
    found.content = std::move(json.content);
    found.haveContent = json.haveContent;
    return found;
}

QString yoloSaveTarget(const QString &imagePath, const QStringList &candidates)
{
    const ImageParts p = partsOf(imagePath);
    const QString beside = joinPath(p.dir, p.base + QLatin1String(".txt"));
    if (!candidates.isEmpty() && candidates.first() == beside)
        return beside;
    return joinPath(mappedLabelsDir(p.dir), p.base + QLatin1String(".txt"));
}

QStringList labelFilesOf(const QString &imagePath)
{
    QStringList files = yoloLabelCandidates(imagePath);
    const QString dota = findDotaFile(imagePath);
    if (!dota.isEmpty())
        files.prepend(dota);
    const QString xml = findVocFile(imagePath);
    if (!xml.isEmpty())
        files.prepend(xml);
    const QString json = findLabelmeFile(imagePath);
    if (!json.isEmpty())
        files.append(json);
    return files;
}

QStringList readClassList(const QString &labelsDir, bool *ok)
{
    return readNamesFile(joinPath(labelsDir, QStringLiteral("classes.txt")), ok);
}

bool writeClassList(const QString &imagePath, const QStringList &classNames)
{
    return writeClassListIn(labelsDirFor(imagePath), classNames,
                            datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath()));
}

bool writeClassListIn(const QString &labelsDir, const QStringList &classNames, const QString &insideRoot)
{
    if (!makeFolderInside(labelsDir, insideRoot))
        return false;
    QByteArray bytes;
    for (const QString &name : classNames) {
        bytes += name.toUtf8();
        bytes += '\n';
    }
    const QString path = joinPath(labelsDir, QStringLiteral("classes.txt"));
    QByteArray current;
    if (readRegularFile(path, &current) == FileRead::Ok && current == bytes)
        return true;
    return writeFileAtomically(path, bytes, insideRoot);
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
