#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLockFile>
#include <QProcess>
#include <QString>
#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Small fixtures the storage tests build for themselves.
namespace Fixtures {

// CRC-32 as PNG chunks carry it.
inline quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A VOC file whose DOCTYPE declares entities that expand a hundred thousand times over: its
// first object (cat, 10,20 to 110,70) reads, the second names the largest entity (line 12).
inline QByteArray vocEntityBomb()
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE annotation [\n<!ENTITY a \"aaaaaaaaaaaaaaaaaaaa\">\n";
    for (char level = 'b'; level <= 'f'; ++level) {
        xml += QByteArray("<!ENTITY ") + level + " \"";
        for (int i = 0; i < 10; ++i)
            xml += QByteArray("&") + char(level - 1) + ";";
        xml += "\">\n";
    }
    const QByteArray box = "<bndbox><xmin>10</xmin><ymin>20</ymin><xmax>110</xmax><ymax>70</ymax></bndbox>";
    return xml + "]>\n<annotation>\n<object><name>cat</name>" + box + "</object>\n<object><name>&f;</name>" + box
        + "</object>\n</annotation>\n";
}

// Makes a file of the given size past what it holds (sparse: it takes no room on disk).
inline bool growFile(const QString &path, qint64 size)
{
    QFile file(path);
    return file.resize(size);
}

inline bool makeImage(const QString &path, int width, int height, const QColor &color = Qt::darkGreen)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image.save(path);
}

// A JPEG of the given stored size carrying an EXIF orientation tag (6 shows it turned by 90°).
inline bool makeOrientedJpeg(const QString &path, int storedWidth, int storedHeight, quint16 orientation)
{
    QImage image(storedWidth, storedHeight, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "JPEG"))
            return false;
    }
    // APP1 "Exif" with a big-endian TIFF header and one IFD entry: Orientation (0x0112), SHORT.
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff += char(orientation >> 8);
    tiff += char(orientation & 0xff);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0');
    const QByteArray payload = QByteArray("Exif\x00\x00", 6) + tiff;
    QByteArray segment("\xff\xe1", 2);
    const quint16 length = quint16(payload.size() + 2);
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += payload;
    jpeg.insert(2, segment);
    return writeBytes(path, jpeg);
}

#ifdef Q_OS_LINUX
// Writes a file whose path is given as bytes: names that are not UTF-8 cannot pass through a QString.
inline bool writeBytesAtRawPath(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}
#endif

// A one-bit PNG, white with a black box over the middle third of its width and a tenth of its height
// (from 40 % down): tiny on disk however large, as scanned documents and masks are.
inline bool makeOneBitPng(const QString &path, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return false;
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int y = height * 4 / 10; y < height / 2; ++y) {
        for (int x = width / 3; x < width * 2 / 3; ++x)
            image.setPixel(x, y, 1);
    }
    return image.save(path, "PNG");
}

// A PNG whose header claims an image of width x height true-colour pixels, with no pixel data:
// what an image too large to decode looks like before anything is decoded.
inline bool makeClaimedPng(const QString &path, quint32 width, quint32 height)
{
    const auto chunk = [](const QByteArray &type, const QByteArray &data) {
        QByteArray out;
        const quint32 size = quint32(data.size());
        out += char(size >> 24);
        out += char(size >> 16);
        out += char(size >> 8);
        out += char(size);
        const QByteArray body = type + data;
        out += body;
        const quint32 crc = crc32(body);
        out += char(crc >> 24);
        out += char(crc >> 16);
        out += char(crc >> 8);
        out += char(crc);
        return out;
    };
    QByteArray header;
    for (quint32 v : {width, height}) {
        header += char(v >> 24);
        header += char(v >> 16);
        header += char(v >> 8);
        header += char(v);
    }
    header += QByteArray("\x08\x02\x00\x00\x00", 5);   // 8 bits, RGB, deflate, no filter, no interlace
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", QByteArray())
        + chunk("IEND", QByteArray());
    return writeBytes(path, png);
}

// Makes a directory refuse new entries for the guard's lifetime. Root ignores permission bits,
// so it gets the immutable attribute instead.
class ReadOnlyDirectory
{
public:
    explicit ReadOnlyDirectory(const QString &path)
        : m_path(QFile::encodeName(path))
    {
#ifdef Q_OS_LINUX
        if (geteuid() == 0)
            m_ok = setImmutable(true);
        else
            m_ok = ::chmod(m_path.constData(), 0555) == 0;
#endif
    }
    ~ReadOnlyDirectory()
    {
#ifdef Q_OS_LINUX
        if (!m_ok)
            return;
        if (geteuid() == 0)
            setImmutable(false);
        else
            ::chmod(m_path.constData(), 0755);
#endif
    }
    ReadOnlyDirectory(const ReadOnlyDirectory &) = delete;
    ReadOnlyDirectory &operator=(const ReadOnlyDirectory &) = delete;

    bool ok() const { return m_ok; }

private:
#ifdef Q_OS_LINUX
    bool setImmutable(bool on)
    {
        const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }
#endif

    QByteArray m_path;
    bool m_ok = false;
};

// The lock file a writer leaves when it is killed while holding it: its process is gone.
inline bool writeStaleLock(const QString &lockPath)
{
    QByteArray content;
    {
        QLockFile lock(lockPath);
        if (!lock.tryLock(0))
            return false;
        content = readBytes(lockPath);
    }
    QProcess gone;
    gone.start(QStringLiteral("true"), QStringList());
    if (!gone.waitForStarted())
        return false;
    const qint64 pid = gone.processId();
    if (!gone.waitForFinished() || content.indexOf('\n') < 0)
        return false;
    return writeBytes(lockPath, QByteArray::number(pid) + content.mid(content.indexOf('\n')));
}

// A lock held by a process on another host, last touched ageMs ago: its process cannot be asked.
inline bool writeForeignLock(const QString &lockPath, qint64 ageMs)
{
    QByteArray content;
    {
        QLockFile lock(lockPath);
        if (!lock.tryLock(0))
            return false;
        content = readBytes(lockPath);
    }
    QList<QByteArray> lines = content.split('\n');
    if (lines.size() < 3)
        return false;
    lines[2] = "build-node-17";   // the holder's host name
    if (lines.size() > 3)
        lines[3] = "0123456789abcdef0123456789abcdef";   // and its machine id
    if (!writeBytes(lockPath, lines.join('\n')))
        return false;
    QFile file(lockPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(QDateTime::currentDateTimeUtc().addMSecs(-ageMs), QFileDevice::FileModificationTime);
}

} // namespace Fixtures
