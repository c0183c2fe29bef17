#include "storage/writeguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool entryExists(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
#else
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
#endif
}

// Where the path ends up once every link on the way is followed; empty when a link on the way
// leads nowhere. Parts that do not exist yet are taken as written: they hold no link.
QString resolvedLocation(const QString &path)
{
    QString existing = cleanAbsolute(path);
    QStringList missing;
    while (!entryExists(existing)) {
        const QFileInfo info(existing);
        const QString parent = info.absolutePath();
        if (parent == existing)
            return QString();
        missing.prepend(info.fileName());
        existing = parent;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        return QString();
    if (missing.isEmpty())
        return canonical;
    return (canonical.endsWith(QLatin1Char('/')) ? canonical : canonical + QLatin1Char('/'))
        + missing.join(QLatin1Char('/'));
}

bool isInside(const QString &location, const QString &root)
{
    if (location.isEmpty())
        return false;
    // A root that does not exist yet is created with what is written.
    const QString canonicalRoot = resolvedLocation(root);
    if (canonicalRoot.isEmpty())
        return false;
    if (location == canonicalRoot || canonicalRoot == u"/")
        return true;
    return location.startsWith(canonicalRoot + QLatin1Char('/'));
}

// The part of root a write to path belongs to: the top folder under root that the path lies in
// as written (the image folder, the labels folder, Annotations), or root for a file of its own.
// A root above the opened folder (the folder that holds images/ and labels/, perhaps the home
// folder an archive was unpacked in) is no licence to write anywhere in it.
QString areaOf(const QString &path, const QString &root)
{
    const QString cleanRoot = cleanAbsolute(root);
    const QString cleanPath = cleanAbsolute(path);
    const QString prefix = cleanRoot.endsWith(QLatin1Char('/')) ? cleanRoot : cleanRoot + QLatin1Char('/');
    if (!cleanPath.startsWith(prefix))
        return cleanRoot;
    const qsizetype slash = cleanPath.indexOf(QLatin1Char('/'), prefix.size());
    return slash < 0 ? cleanRoot : cleanPath.left(slash);
}

} // namespace

QString commonFolder(const QString &a, const QString &b)
{
    const QStringList left = cleanAbsolute(a).split(QLatin1Char('/'));
    const QStringList right = cleanAbsolute(b).split(QLatin1Char('/'));
    qsizetype n = 0;
    while (n < left.size() && n < right.size() && left.at(n) == right.at(n))
        ++n;
    const QString common = left.mid(0, n).join(QLatin1Char('/'));
    return common.isEmpty() ? QStringLiteral("/") : common;
}

bool writeStaysInside(const QString &path, const QString &root)
{
    const QString location = resolvedLocation(path);
    return isInside(location, root) && isInside(location, areaOf(path, root));
}

bool makeFolderInside(const QString &dir, const QString &root)
{
    return writeStaysInside(dir, root) && QDir().mkpath(dir);
}

bool removalStaysInside(const QString &path, const QString &root)
{
    const QFileInfo info(cleanAbsolute(path));
    const QString folder = resolvedLocation(info.absolutePath());
    if (folder.isEmpty())
        return false;
    return isInside((folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) + info.fileName(),
                    root);
}
