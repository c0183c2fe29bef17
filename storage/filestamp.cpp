#include "storage/filestamp.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

bool FileStamp::settledAt(qint64 nowNs) const
{
    const bool coarse = changedNs() % 1000000000 == 0;
    return changedNs() <= nowNs - (coarse ? 2000000000 : 50000000);
}

qint64 FileStamp::nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
}

FileStamp FileStamp::of(const QString &path)
{
    FileStamp stamp;
    stamp.m_path = path;
#ifdef Q_OS_LINUX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return stamp;
    stamp.m_exists = true;
    stamp.m_dir = S_ISDIR(info.st_mode);
    stamp.m_inode = quint64(info.st_ino);
    stamp.m_size = qint64(info.st_size);
    stamp.m_mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.m_ctimeNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return stamp;
    stamp.m_exists = true;
    stamp.m_dir = info.isDir();
    stamp.m_size = info.size();
    stamp.m_mtimeNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    stamp.m_ctimeNs = info.metadataChangeTime().toMSecsSinceEpoch() * 1000000;
#endif
    return stamp;
}
