#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// True when the file name has one of the image suffixes the listing takes ("jpg", "jpeg", "png",
// "bmp", "webp", "tif", "tiff"), in any case.
bool isImageFile(const QString &path);

// Lists the images of one directory in collated order and hands them over in chunks.
// load() and requestStop() run on the owner's thread; run() only on the worker. The
// directory is replaced only while the thread is stopped, so the two share nothing else.
class DirectoryLoader : public QThread
{
    Q_OBJECT
public:
    static constexpr int ChunkSize = 400;

    explicit DirectoryLoader(QObject *parent = nullptr);
    ~DirectoryLoader() override;

    // Ends the running listing (at its next chunk boundary), then lists dir.
    void load(const QString &dir);
    void requestStop();

    QString dir() const { return m_dir; }

    // The image files of dir (readable, not hidden, no recursion) as absolute paths in listing
    // order: numeric, case-insensitive collation. Used by the worker and by command-line tools.
    static QStringList listImages(const QString &dir);
    static void sortPaths(QStringList &paths);

signals:
    void chunkReady(const QString &dir, const QStringList &paths);
    void done(const QString &dir, const QStringList &all);

protected:
    void run() override;

private:
    QString m_dir;
    std::atomic<bool> m_stop{false};
};
