#include "storage/thumbloader.h"

#include "storage/filebytes.h"
#include "storage/imagescaling.h"
#include "storage/threadpriority.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>
#include <cmath>

ThumbLoader::ThumbLoader(QObject *parent)
    : QThread(parent)
{
}

ThumbLoader::~ThumbLoader()
{
    requestStop();
    wait();
}

void ThumbLoader::restart(const QStringList &paths)
{
    m_stop.store(true);
    wait();
    m_paths = paths;
    m_stop.store(false);
    start();
}

void ThumbLoader::requestStop()
{
    m_stop.exchange(true);
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

void ThumbLoader::run()
{
    lowerCurrentThreadPriority();
    for (const QString &path : std::as_const(m_paths)) {
        if (m_stop.load())
            return;
        const QImage image = decodeThumbnail(path);
        if (m_stop.load())
            return;
        if (!image.isNull())
            emit thumbReady(path, image);
    }
}
