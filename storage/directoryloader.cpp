#include "storage/directoryloader.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFile>
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

// Readable regular files (links followed) with an image suffix, not hidden. Straight from the
// directory entries: a file-info object and fourteen wildcard patterns per entry cost ten times
// more than the listing itself.
QStringList imageNamesIn(const QString &root)
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
        const QString name = QFile::decodeName(entry->d_name);
        if (!hasImageSuffix(name))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link to a FIFO or a device would block its reader or never end.
            struct stat info;
            regular = ::fstatat(fd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular && ::faccessat(fd, entry->d_name, R_OK, 0) == 0)
            names.append(name);
    }
    ::closedir(dir);
#else
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
    : QThread(parent)
{
}

DirectoryLoader::~DirectoryLoader()
{
    requestStop();
    wait();
}

void DirectoryLoader::load(const QString &dir)
{
    m_stop.store(true);
    wait();
    m_dir = dir;
    m_stop.store(false);
    start();
}

void DirectoryLoader::requestStop()
{
    m_stop.exchange(true);
}

QStringList DirectoryLoader::listImages(const QString &dir)
{
    const QString root = QDir(dir).absolutePath();
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    QStringList names = imageNamesIn(root);
    // One folder: collating the names orders the paths, at a fraction of the cost.
    sortPaths(names);
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

void DirectoryLoader::run()
{
    const QStringList paths = listImages(m_dir);
    QStringList all;
    all.reserve(paths.size());
    for (qsizetype offset = 0;; offset += ChunkSize) {
        if (offset >= paths.size()) {
            emit done(m_dir, all);
            return;
        }
        if (m_stop.load())
            return;
        const QStringList chunk = paths.mid(offset, ChunkSize);
        emit chunkReady(m_dir, chunk);
        all += chunk;
        // Lets the receiving thread draw between chunks; pointless after the last one.
        if (offset + ChunkSize < paths.size())
            msleep(10);
    }
}
