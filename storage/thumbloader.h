#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include "storage/restartableworker.h"

#include <atomic>

// Decodes small thumbnails for the file list on a worker thread, letting the image reader decode
// at reduced size.
class ThumbLoader : public RestartableWorker<QStringList>
{
    Q_OBJECT
public:
    static constexpr int ThumbWidth = 60;
    static constexpr int ThumbHeight = 44;
    static constexpr int MaxThumbSide = 1024;

    explicit ThumbLoader(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~ThumbLoader() override { stop(); }

    // Decodes paths in order instead of what it was doing. Never waits for the image being
    // decoded: the new pass starts once the old one has stopped.
    void restart(const QStringList &paths);
    // Also forgets a pass waiting to start.
    void requestStop();
    // No decode begins within the next ms milliseconds (the user is stepping through images and
    // the decoders of the images shown need the processor). Any thread.
    void holdFor(int ms);

    QStringList paths() const { return input(); }

    // The smallest size of the image's shown aspect ratio that covers 60x44, no side above
    // MaxThumbSide; exactly 60x44 when the size is unknown.
    static QSize targetSize(const QSize &shownSize);
    // One thumbnail, decoded at targetSize; a null image when the file cannot be decoded.
    static QImage decodeThumbnail(const QString &path);

signals:
    void thumbReady(const QString &path, const QImage &img);

private:
    void startNext();
    void decodeAll(const QStringList &paths);

    QStringList m_next;
    bool m_hasNext = false;
    std::atomic<qint64> m_holdUntil{0};   // steady clock, ms
};
