#include "storage/directoryloader.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <numeric>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Numeric collation does nothing in the C locale that containers and CI run with.
QCollator listingCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

bool hasImageSuffix(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringView suffix = name.mid(dot + 1);
    for (const char *known : {"jpg", "jpeg", "png", "bmp", "webp", "tif", "tiff"}) {
        if (suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Length of the valid UTF-8 sequence at i, or 0 when the byte there starts none.
int utf8Length(const QByteArray &raw, qsizetype i)
{
    const uchar lead = uchar(raw.at(i));
    if (lead < 0x80)
        return 1;
    int n = 0;
    uint least = 0;
    if ((lead & 0xE0) == 0xC0) {
        n = 2;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + n > raw.size())
        return 0;
    uint code = lead & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
        const uchar next = uchar(raw.at(i + k));
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least || code > 0x10FFFF || surrogate ? 0 : n;
}

// A name as bytes, with every byte that is not part of valid UTF-8 written as \xNN.
QString escapedName(const QByteArray &raw)
{
    QString out;
    for (qsizetype i = 0; i < raw.size();) {
        const int n = utf8Length(raw, i);
        if (n > 0) {
            out += QString::fromUtf8(raw.constData() + i, n);
            i += n;
        } else {
            out += QStringLiteral("\\x") + QString::number(uchar(raw.at(i)), 16).toUpper().rightJustified(2, u'0');
            ++i;
        }
    }
    return out;
}

// Readable regular files (links followed) with an image suffix, not hidden. Straight from the
// directory entries: a file-info object and fourteen wildcard patterns per entry cost ten times
// more than the listing itself. A name whose bytes are not valid UTF-8 has no QString that opens
// the file (Qt takes file names as UTF-8): it goes to undecodable, escaped, instead.
QStringList imageNamesIn(const QString &root, QStringList *undecodable,
                         const std::function<void(const QString &)> &manyFound = nullptr)
{
    QStringList names;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(root).constData());
    if (!dir)
        return names;
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const QByteArray raw(entry->d_name);
        const QString name = QFile::decodeName(raw);
        if (!hasImageSuffix(name))
            continue;
        if (QFile::encodeName(name) != raw) {
            if (undecodable)
                undecodable->append(escapedName(raw));
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link to a FIFO or a device would block its reader or never end.
            struct stat info;
            regular = ::fstatat(fd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular && ::faccessat(fd, entry->d_name, R_OK, 0) == 0) {
            names.append(name);
            if (manyFound && names.size() == DirectoryLoader::kFirstFoundAbove + 1)
                manyFound(names.first());
        }
    }
    ::closedir(dir);
#else
    Q_UNUSED(undecodable);
    QDirIterator it(root, QDir::Files | QDir::Readable);
    while (it.hasNext()) {
        it.next();
        if (hasImageSuffix(it.fileName()))
            names.append(it.fileName());
    }
#endif
    return names;
}

} // namespace

bool isImageFile(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return hasImageSuffix(QStringView(path).mid(slash + 1));
}

DirectoryLoader::DirectoryLoader(QObject *parent)
    : RestartableWorker([this](const QString &dir) { list(dir); }, parent)
{
}

QString DirectoryLoader::undecodableEntry(const QString &path)
{
#ifdef Q_OS_UNIX
    // The path came from bytes that are not UTF-8: what Qt made of them matches the entry's name.
    const QFileInfo info(path);
    if (info.exists() || !info.fileName().contains(QChar::ReplacementCharacter))
        return QString();
    DIR *dir = ::opendir(QFile::encodeName(info.absolutePath()).constData());
    if (!dir)
        return QString();
    QString found;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        const QString name = QFile::decodeName(raw);
        if (name == info.fileName() && QFile::encodeName(name) != raw) {
            const QString folder = info.absolutePath();
            found = (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) + escapedName(raw);
            break;
        }
    }
    ::closedir(dir);
    return found;
#else
    Q_UNUSED(path);
    return QString();
#endif
}

QStringList DirectoryLoader::listImages(const QString &dir, QStringList *undecodable)
{
    return listImages(dir, undecodable, nullptr);
}

QStringList DirectoryLoader::listImages(const QString &dir, QStringList *undecodable,
                                        const std::function<void(const QString &)> &firstKnown)
{
    const QString root = QDir(dir).absolutePath();
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    QStringList unnamed;
    bool found = false;
    const auto manyFound = [&](const QString &name) {
        found = true;
        firstKnown(prefix + name);
    };
    QStringList names = imageNamesIn(root, &unnamed, firstKnown ? std::function<void(const QString &)>(manyFound) : nullptr);
    if (undecodable) {
        sortPaths(unnamed);
        for (const QString &name : std::as_const(unnamed))
            undecodable->append(prefix + name);
    }
    // Sorting a large folder takes a while; the first name is found in one pass before it.
    if (firstKnown && !found && names.size() > kEarlyFirstAbove) {
        const QCollator collator = listingCollator();
        const QString *first = &names.first();
        for (const QString &name : std::as_const(names)) {
            const int order = collator.compare(name, *first);
            if (order < 0 || (order == 0 && name < *first))
                first = &name;
        }
        firstKnown(prefix + *first);
    }
    // One folder: collating the names orders the paths, at a fraction of the cost.
    sortPaths(names);
    if (firstKnown && !found && names.size() <= kEarlyFirstAbove && !names.isEmpty())
        firstKnown(prefix + names.first());
    for (QString &name : names)
        name.prepend(prefix);
    return names;
}

void DirectoryLoader::sortPaths(QStringList &paths)
{
    // Sort keys once per path instead of collating inside every comparison.
    const QCollator collator = listingCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(paths.size());
    for (const QString &path : std::as_const(paths))
        keys.push_back(collator.sortKey(path));
    std::vector<qsizetype> order(paths.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int byKey = keys[a].compare(keys[b]);
        return byKey != 0 ? byKey < 0 : paths.at(a) < paths.at(b);
    });
    QStringList sorted;
    sorted.reserve(paths.size());
    for (qsizetype i : order)
        sorted.append(paths.at(i));
    paths = sorted;
}

void DirectoryLoader::list(const QString &dir)
{
    QStringList undecodable;
    const QStringList paths = listImages(dir, &undecodable, [this, &dir](const QString &first) {
        emit firstFound(dir, first);
    });
    if (!undecodable.isEmpty())
        emit undecodableNames(dir, undecodable);
    QStringList all;
    all.reserve(paths.size());
    // The first chunk is small so that the first image shows at once; later ones grow, so that
    // 100,000 images take a few dozen hand-overs rather than hundreds.
    qsizetype size = ChunkSize;
    for (qsizetype offset = 0;; offset += size, size = std::min<qsizetype>(size * 2, MaxChunkSize)) {
        if (offset >= paths.size()) {
            emit done(dir, all);
            return;
        }
        if (stopRequested())
            return;
        const QStringList chunk = paths.mid(offset, size);
        emit chunkReady(dir, chunk);
        all += chunk;
        // Lets the receiving thread draw between chunks; pointless after the last one.
        if (offset + size < paths.size())
            msleep(10);
    }
}
