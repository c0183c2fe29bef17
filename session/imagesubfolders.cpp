#include "session/imagesubfolders.h"

#include "storage/directoryloader.h"

#include <QDir>
#include <QDirIterator>

namespace {

const int kEntriesPerFolder = 2000;
const int kFoldersLooked = 200;

bool holdsImages(const QString &dir)
{
    QDirIterator it(dir, QDir::Files | QDir::NoDotAndDotDot);
    for (int i = 0; i < kEntriesPerFolder && it.hasNext(); ++i) {
        if (isImageFile(it.next()))
            return true;
    }
    return false;
}

QStringList subfolders(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QStringList paths;
    for (const QString &name : std::as_const(names)) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        paths.append(QDir(dir).filePath(name));
        if (paths.size() >= kFoldersLooked)
            break;
    }
    return paths;
}

} // namespace

QStringList imageSubfolders(const QString &dir, int limit)
{
    QStringList found;
    int looked = 0;
    const QStringList first = subfolders(dir);
    for (const QString &folder : first) {
        if (found.size() >= limit || looked >= kFoldersLooked)
            break;
        ++looked;
        if (holdsImages(folder)) {
            found.append(folder);
            continue;
        }
        for (const QString &inner : subfolders(folder)) {
            if (found.size() >= limit || looked >= kFoldersLooked)
                break;
            ++looked;
            if (holdsImages(inner))
                found.append(inner);
        }
    }
    return found;
}
