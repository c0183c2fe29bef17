#include "storage/thumbloader.h"

#include "storage/filebytes.h"
#include "storage/imagescaling.h"
#include "storage/threadpriority.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ThumbLoader::ThumbLoader(QObject *parent)
    : RestartableWorker([this](const QStringList &paths) { decodeAll(paths); }, parent)
{
    // Emitted by the ending pass on its own thread, received here on the owner's.
    connect(this, &QThread::finished, this, [this] {
        if (m_hasNext)
            startNext();
    }, Qt::QueuedConnection);
}

void ThumbLoader::restart(const QStringList &paths)
{
    m_next = paths;
    m_hasNext = true;
    if (isRunning()) {
        RestartableWorker::requestStop();
        return;
    }
    startNext();
}

void ThumbLoader::startNext()
{
    // A pass that has returned may still be in its last few instructions: restart waits for them.
    const QStringList next = std::exchange(m_next, {});
    m_hasNext = false;
    RestartableWorker::restart(next);
}

void ThumbLoader::requestStop()
{
    m_hasNext = false;
    m_next.clear();
    RestartableWorker::requestStop();
}

void ThumbLoader::holdFor(int ms)
{
    m_holdUntil.store(steadyMs() + ms);
}

QSize ThumbLoader::targetSize(const QSize &shownSize)
{
    if (!shownSize.isValid() || shownSize.width() <= 0 || shownSize.height() <= 0)
        return QSize(ThumbWidth, ThumbHeight);
    const double scale = std::max(double(ThumbWidth) / shownSize.width(), double(ThumbHeight) / shownSize.height());
    // A long strip keeps its short side but not its aspect ratio: covering the box exactly
    // would take gigabytes and crash the scaler.
    const double longest = MaxThumbSide;
    const int w = std::max(ThumbWidth, int(std::lround(std::min(longest, shownSize.width() * scale))));
    const int h = std::max(ThumbHeight, int(std::lround(std::min(longest, shownSize.height() * scale))));
    return QSize(w, h);
}

QImage ThumbLoader::decodeThumbnail(const QString &path)
{
    if (!isRegularFile(path))
        return QImage();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize stored = reader.size();
    // The header size and the scaled size are in stored orientation; the thumbnail must cover
    // 60x44 as shown, so work out the target on the shown size and turn it back.
    const bool turned = stored.isValid() && (reader.transformation() & QImageIOHandler::TransformationRotate90);
    QSize target = targetSize(turned ? stored.transposed() : stored);
    if (turned)
        target.transpose();
    // Work ahead of the user: a huge image that cannot be decoded small gets no thumbnail.
    QImage image = readScaled(reader, target, DecodeUse::Background);
    // The file list scales it once more: one-bit and palette thumbnails would turn to noise there.
    if (!image.isNull() && image.depth() < 32)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return image;
}

void ThumbLoader::decodeAll(const QStringList &paths)
{
    lowerCurrentThreadPriority();
    for (const QString &path : paths) {
        while (!stopRequested() && steadyMs() < m_holdUntil.load())
            msleep(5);
        if (stopRequested())
            return;
        const QImage image = decodeThumbnail(path);
        if (stopRequested())
            return;
        if (!image.isNull())
            emit thumbReady(path, image);
    }
}
