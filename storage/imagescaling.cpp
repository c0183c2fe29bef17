#include "storage/imagescaling.h"

#include <QImageIOHandler>
#include <QImageReader>

QImage smoothScaled(const QImage &image, const QSize &size)
{
    if (image.isNull() || !size.isValid() || image.size() == size)
        return image;
    QImage source = image;
    if (source.depth() < 32 && source.format() != QImage::Format_RGB16)
        source.convertTo(source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void raiseImageAllocationLimit(int megabytes)
{
    if (megabytes > QImageReader::allocationLimit())
        QImageReader::setAllocationLimit(megabytes);
}

bool readsScaledNatively(QImageReader &reader)
{
    // Readers that scale do it in the image's own format: fine for true colour only.
    const QImage::Format format = reader.imageFormat();
    const bool lowDepth = format == QImage::Format_Mono || format == QImage::Format_MonoLSB
        || format == QImage::Format_Indexed8 || format == QImage::Format_Invalid;
    return !lowDepth && reader.supportsOption(QImageIOHandler::ScaledSize);
}

QImage readScaled(QImageReader &reader, const QSize &size)
{
    if (!size.isValid() || size.isEmpty())
        return reader.read();
    if (readsScaledNatively(reader)) {
        reader.setScaledSize(size);
        return reader.read();
    }
    // Asked before reading: once the file is read, asking again makes the decoder read past its end.
    const QSize stored = reader.size();
    QImage image = reader.read();
    if (image.isNull())
        return image;
    // The size asked for is in stored orientation; a turned image comes back turned.
    const bool turned = image.size() != stored && image.size() == stored.transposed();
    return smoothScaled(image, turned ? size.transposed() : size);
}
