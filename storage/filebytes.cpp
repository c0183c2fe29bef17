#include "storage/filebytes.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool isRegularFile(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
#else
    return QFileInfo(path).isFile();
#endif
}

FileRead readRegularFile(const QString &path, QByteArray *bytes, qint64 maxBytes)
{
    // One byte more than allowed tells a file at the limit from one beyond it.
    bool whole = false;
    const FileRead read = readFileHead(path, bytes, maxBytes + 1, &whole);
    if (read != FileRead::Ok)
        return read;
    if (!whole || bytes->size() > maxBytes) {
        bytes->clear();
        return FileRead::Unreadable;
    }
    return FileRead::Ok;
}

FileRead readFileHead(const QString &path, QByteArray *bytes, qint64 maxBytes, bool *whole)
{
    bytes->clear();
    if (whole)
        *whole = false;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileRead::Unreadable;
    }
    QByteArray data(qsizetype(qMin<qint64>(maxBytes, info.st_size + 1)), Qt::Uninitialized);
    qint64 total = 0;
    bool failed = false;
    while (total < data.size()) {
        const ssize_t n = ::read(fd, data.data() + total, size_t(data.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    if (failed)
        return FileRead::Unreadable;
    if (whole)
        *whole = total < data.size() || total == info.st_size;
    data.resize(qsizetype(total));
    *bytes = data;
    return FileRead::Ok;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return FileRead::Missing;
    if (!info.isFile())
        return FileRead::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileRead::Unreadable;
    *bytes = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        bytes->clear();
        return FileRead::Unreadable;
    }
    if (whole)
        *whole = file.atEnd();
    return FileRead::Ok;
#endif
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\n' && c != u'\r')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}
