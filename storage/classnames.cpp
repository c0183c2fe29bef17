#include "storage/classnames.h"

#include "storage/filebytes.h"
#include "storage/filestamp.h"
#include "storage/yamlnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QStringDecoder>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

// How far above the labels folder a dataset YAML file may lie.
constexpr int kYamlLevels = 3;
constexpr qsizetype kCacheLimit = 256;

QString join(const QString &dir, const QString &name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

QString parentOf(const QString &dir)
{
    return QFileInfo(dir).absolutePath();
}

struct Search
{
    ClassNames result;
    QList<FileStamp> stamps;  // everything looked at; the result holds while they are unchanged
};

bool tryNamesFile(Search &s, const QString &path, NamesSource source)
{
    const FileStamp stamp = FileStamp::of(path);
    s.stamps.append(stamp);
    if (!stamp.exists())
        return false;
    bool ok = true;
    s.result.names = readNamesFile(path, &ok);
    s.result.file = path;
    s.result.source = source;
    s.result.ok = ok;
    return true;
}

bool isYamlName(const QByteArray &name)
{
    // Hidden files are not the dataset's, as for QDir::Files.
    return name.size() > 5 && !name.startsWith('.') && name.right(5).toLower() == ".yaml";
}

QStringList yamlFilesIn(const QString &dir)
{
#ifdef Q_OS_UNIX
    // A flat folder of 100,000 images is read by name alone: QDir's filters took 130 ms for it.
    QStringList files;
    DIR *folder = ::opendir(QFile::encodeName(dir).constData());
    if (!folder)
        return files;
    const int fd = ::dirfd(folder);
    while (const dirent *entry = ::readdir(folder)) {
        const QByteArray raw(entry->d_name);
        if (!isYamlName(raw))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info;
            regular = ::fstatat(fd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular)
            files.append(QFile::decodeName(raw));
    }
    ::closedir(folder);
    std::sort(files.begin(), files.end());
#else
    QStringList files = QDir(dir).entryList({QStringLiteral("*.yaml")}, QDir::Files, QDir::Name);
#endif
    QStringList ordered;
    for (const QLatin1String first : {QLatin1String("data.yaml"), QLatin1String("dataset.yaml")}) {
        if (files.removeAll(first) > 0)
            ordered.append(first);
    }
    return ordered + files;
}

bool tryYamlFolders(Search &s, const QString &labelsDir)
{
    QString dir = labelsDir;
    for (int level = 0; level <= kYamlLevels; ++level) {
        const FileStamp folder = FileStamp::of(dir);
        s.stamps.append(folder);
        if (folder.isDir()) {
            for (const QString &name : yamlFilesIn(dir)) {
                const QString path = join(dir, name);
                s.stamps.append(FileStamp::of(path));
                QStringList names;
                const YamlNames read = readYamlNames(path, &names);
                // The dataset's own file that cannot be parsed: its names are unknown, not absent.
                const bool datasetFile = name == u"data.yaml" || name == u"dataset.yaml";
                if (read == YamlNames::Found || (read == YamlNames::Unreadable && datasetFile)) {
                    s.result = {names, path, NamesSource::OtherTool, read == YamlNames::Found};
                    return true;
                }
            }
        }
        const QString up = parentOf(dir);
        if (up == dir)
            break;
        dir = up;
    }
    return false;
}

Search search(const QString &labelsDir, bool ownList)
{
    Search s;
    const QString parent = parentOf(labelsDir);
    const QString root = datasetRootFor(labelsDir);
    const QString classes = QStringLiteral("classes.txt");
    const QString objNames = QStringLiteral("obj.names");
    if (ownList && tryNamesFile(s, join(labelsDir, classes), NamesSource::ClassList))
        return s;
    if (tryNamesFile(s, join(labelsDir, objNames), NamesSource::OtherTool))
        return s;
    if (parent != labelsDir && tryNamesFile(s, join(parent, objNames), NamesSource::OtherTool))
        return s;
    if (root != labelsDir && tryNamesFile(s, join(root, classes), NamesSource::OtherTool))
        return s;
    tryYamlFolders(s, labelsDir);
    return s;
}

struct CacheEntry
{
    ClassNames names;
    QList<FileStamp> stamps;
};

ClassNames cachedSearch(const QString &labelsDir, bool ownList)
{
    // One cache per thread: the state scanner and the checker read on threads of their own.
    thread_local QHash<QString, CacheEntry> ownCache;
    thread_local QHash<QString, CacheEntry> otherCache;
    QHash<QString, CacheEntry> &cache = ownList ? ownCache : otherCache;

    const auto it = cache.constFind(labelsDir);
    if (it != cache.cend()) {
        const bool current = std::all_of(it->stamps.cbegin(), it->stamps.cend(),
                                         [](const FileStamp &stamp) { return stamp.isCurrent(); });
        if (current)
            return it->names;
    }
    const Search s = search(labelsDir, ownList);
    // What changed a moment ago may change again within the same tick of the file-system clock,
    // unseen by a stamp: such a search is made again next time.
    const qint64 now = FileStamp::nowNs();
    const bool settled = std::all_of(s.stamps.cbegin(), s.stamps.cend(), [now](const FileStamp &stamp) {
        return !stamp.exists() || stamp.settledAt(now);
    });
    if (settled) {
        if (cache.size() >= kCacheLimit)
            cache.clear();
        cache.insert(labelsDir, CacheEntry{s.result, s.stamps});
    } else {
        cache.remove(labelsDir);
    }
    return s.result;
}

// UTF-8, or UTF-16 with its byte order mark as some Windows tools write it. Anything else (NUL
// bytes, invalid UTF-8) is not a list of names: read as UTF-8 it would give garbage names that a
// save would write back.
QString namesFileText(const QByteArray &bytes, bool *decoded)
{
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    if (bytes.startsWith("\xff\xfe"))
        encoding = QStringConverter::Utf16LE;
    else if (bytes.startsWith("\xfe\xff"))
        encoding = QStringConverter::Utf16BE;
    else if (bytes.contains('\0'))
        *decoded = false;
    if (!*decoded)
        return QString();
    QStringDecoder decoder(encoding);   // skips the byte order mark
    QString text = decoder(bytes);
    *decoded = !decoder.hasError() && !text.contains(QChar(0));
    return text;
}

} // namespace

ClassNames findClassNames(const QString &labelsDir)
{
    return cachedSearch(labelsDir, true);
}

ClassNames findOtherToolNames(const QString &labelsDir)
{
    return cachedSearch(labelsDir, false);
}

QString datasetRootFor(const QString &labelsDir)
{
    const QString withSlash = labelsDir.endsWith(QLatin1Char('/')) ? labelsDir : labelsDir + QLatin1Char('/');
    const qsizetype at = withSlash.lastIndexOf(QLatin1String("/labels/"), -1, Qt::CaseInsensitive);
    if (at < 0)
        return parentOf(labelsDir);
    return at == 0 ? QStringLiteral("/") : withSlash.left(at);
}

QStringList readNamesFile(const QString &path, bool *ok)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(path, &bytes);
    bool decoded = true;
    const QString text = namesFileText(bytes, &decoded);
    if (ok)
        *ok = read != FileRead::Unreadable && decoded;
    QStringList names;
    if (!decoded)
        return names;
    for (const QString &line : splitLines(text)) {
        const QString name = line.trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

QString classListEntry(const QString &label)
{
    QString name = label;
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return name.trimmed();
}

QStringList classListLines(const QStringList &names)
{
    QStringList lines = names;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty())
            lines[i] = QStringLiteral("class%1").arg(i);
    }
    return lines;
}
