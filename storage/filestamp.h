#pragma once

#include <QString>
#include <QtGlobal>

// What a file or folder looked like at one moment, to tell whether a cached reading of it is
// still good. Our writers replace files (a new inode), other tools change size or times.
class FileStamp
{
public:
    FileStamp() = default;
    static FileStamp of(const QString &path);

    QString path() const { return m_path; }
    bool exists() const { return m_exists; }
    bool isDir() const { return m_dir; }
    // The later of the modification and status-change times in nanoseconds since the epoch: when
    // anything last changed. 0 when missing.
    qint64 changedNs() const { return qMax(m_mtimeNs, m_ctimeNs); }
    // Changed long enough before nowNs that a listing made now cannot miss a change made in the same
    // tick of the file-system clock (a few milliseconds; whole seconds where no nanoseconds show).
    bool settledAt(qint64 nowNs) const;
    static qint64 nowNs();
    // Still the same: compares a fresh stamp of the same path.
    bool isCurrent() const { return *this == of(m_path); }

    friend bool operator==(const FileStamp &a, const FileStamp &b)
    {
        return a.m_path == b.m_path && a.m_exists == b.m_exists && a.m_dir == b.m_dir && a.m_inode == b.m_inode
            && a.m_size == b.m_size && a.m_mtimeNs == b.m_mtimeNs && a.m_ctimeNs == b.m_ctimeNs;
    }
    friend bool operator!=(const FileStamp &a, const FileStamp &b) { return !(a == b); }

private:
    QString m_path;
    bool m_exists = false;
    bool m_dir = false;
    quint64 m_inode = 0;
    qint64 m_size = 0;
    qint64 m_mtimeNs = 0;
    qint64 m_ctimeNs = 0;
};
