#pragma once

#include <QString>
#include <QStringList>
#include "storage/restartableworker.h"

#include <functional>

// True when the file name has one of the image suffixes the listing takes ("jpg", "jpeg", "png",
// "bmp", "webp", "tif", "tiff"), in any case.
bool isImageFile(const QString &path);

// Lists the images of one directory in collated order and hands them over in chunks, on a
// worker thread.
class DirectoryLoader : public RestartableWorker<QString>
{
    Q_OBJECT
public:
    static constexpr int ChunkSize = 400;      // the first chunk
    static constexpr int MaxChunkSize = 3200;

    explicit DirectoryLoader(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~DirectoryLoader() override { stop(); }

    // Ends the running listing (at its next chunk boundary), then lists dir.
    void load(const QString &dir) { restart(dir); }

    QString dir() const { return input(); }

    // The image files of dir (readable, not hidden, no recursion) as absolute paths in listing
    // order: numeric, case-insensitive collation. Used by the worker and by command-line tools.
    // An image whose name is not valid UTF-8 (zip archives made on Windows) has no path Qt can
    // open: it is left out, and its path, each invalid byte written as \xNN, goes to undecodable.
    static QStringList listImages(const QString &dir, QStringList *undecodable = nullptr);
    // The same; firstKnown gets the first path as soon as it is known: in a folder of more than
    // kEarlyFirstAbove images before the others are sorted; past kFirstFoundAbove, the first one
    // read, as soon as that many are read (ordering them all would take longer than showing one).
    static QStringList listImages(const QString &dir, QStringList *undecodable,
                                  const std::function<void(const QString &)> &firstKnown);
    // More than the first chunk: sorting them would hold the first image back.
    static constexpr int kEarlyFirstAbove = ChunkSize;
    static constexpr int kFirstFoundAbove = 20000;
    static void sortPaths(QStringList &paths);
    // For a path that does not exist because it was made of bytes that are not UTF-8 (a command
    // line argument): the escaped path of the entry it names, else empty.
    static QString undecodableEntry(const QString &path);

signals:
    // An image to show first, before the chunks (see listImages); it comes again in its chunk.
    // Emitted once per listing of a folder that holds images.
    void firstFound(const QString &dir, const QString &path);
    void chunkReady(const QString &dir, const QStringList &paths);
    // Images of dir that cannot be listed under their name (see listImages); before done.
    void undecodableNames(const QString &dir, const QStringList &paths);
    void done(const QString &dir, const QStringList &all);

private:
    void list(const QString &dir);
};
