#include "storage/directoryloader.h"

#include "storage/filebytes.h"

#include "storage/imagelibrary.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QLocale>

#include <algorithm>
#include <numeric>

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

} // namespace

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
    QStringList filters;
    for (const QString &suffix : ImageLibrary::imageSuffixes()) {
        filters.append(QStringLiteral("*.") + suffix);
        filters.append(QStringLiteral("*.") + suffix.toUpper());
    }
    QStringList paths;
    QDirIterator it(QDir(dir).absolutePath(), filters, QDir::Files | QDir::Readable);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // A link to a FIFO or a device passes the filter; reading one would block or never end.
        if (info.isSymLink() && !isRegularFile(info.absoluteFilePath()))
            continue;
        paths.append(info.absoluteFilePath());
    }
    sortPaths(paths);
    return paths;
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
