#include "storage/folderlisting.h"

#include <QFile>
#include <QHash>

#ifdef Q_OS_LINUX
#include <dirent.h>
#endif

namespace {

// A larger folder is asked file by file rather than kept in memory.
constexpr qsizetype kMaxEntries = 200000;
constexpr qsizetype kCacheLimit = 16;

#ifdef Q_OS_LINUX
bool listNames(const QString &dir, QSet<QString> *names)
{
    DIR *handle = ::opendir(QFile::encodeName(dir).constData());
    if (!handle)
        return false;
    bool ok = true;
    while (const dirent *entry = ::readdir(handle)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (names->size() >= kMaxEntries) {
            ok = false;
            break;
        }
        names->insert(QFile::decodeName(name));
    }
    ::closedir(handle);
    return ok;
}
#endif

thread_local bool t_listing = true;

} // namespace

void FolderListing::listOnThisThread(bool on)
{
    t_listing = on;
}

FolderListing FolderListing::of(const QString &dir)
{
    FolderListing listing;
    if (!t_listing)
        return listing;
#ifdef Q_OS_LINUX
    thread_local QHash<QString, FolderListing> cache;
    const FileStamp stamp = FileStamp::of(dir);
    if (!stamp.isDir())
        return listing;
    const auto it = cache.constFind(dir);
    if (it != cache.cend() && it->m_stamp == stamp)
        return *it;
    if (!stamp.settledAt(FileStamp::nowNs()))
        return listing;   // changing right now: ask the file system directly
    QSet<QString> names;
    const bool complete = listNames(dir, &names);
    // A change while listing shows in the stamp: the listing then waits for the next call.
    if (FileStamp::of(dir) != stamp)
        return listing;
    // An unreadable or huge folder is remembered as unknown, so that it is not listed again.
    listing.m_stamp = stamp;
    listing.m_known = complete;
    if (complete)
        listing.m_names = std::move(names);
    if (cache.size() >= kCacheLimit)
        cache.clear();
    cache.insert(dir, listing);
#else
    Q_UNUSED(dir);
#endif
    return listing;
}
