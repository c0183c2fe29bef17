#include "storage/imagescaling.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// Rows converted to 32 bits at a time by the stripe scaler.
constexpr int kStripeRows = 64;
// A full-size conversion up to this size is cheaper than the stripes and keeps Qt's filter.
constexpr qint64 kWholeConversionBytes = 64ll * 1024 * 1024;

bool isLowDepth(QImage::Format format)
{
    return format == QImage::Format_Mono || format == QImage::Format_MonoLSB || format == QImage::Format_Indexed8
        || format == QImage::Format_Invalid;
}

// Readers that decode at a reduced size themselves, in true colour.
bool shrinksWhileDecoding(QImageReader &reader)
{
    const QByteArray format = reader.format().toLower();
    const bool capable = format == "jpeg" || format == "jpg" || format == "webp";
    return capable && !isLowDepth(reader.imageFormat()) && reader.supportsOption(QImageIOHandler::ScaledSize);
}

// Formats Qt's smooth scaler takes as they are; any other is converted at full size first.
bool scalesWithoutConversion(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied
        || format == QImage::Format_RGBX8888 || format == QImage::Format_RGBA8888_Premultiplied
        || format == QImage::Format_RGBX64 || format == QImage::Format_RGBA64_Premultiplied;
}

// Box filter: every output pixel is the mean of the source pixels that fall into it. The source is
// converted to premultiplied 32 bits a stripe of rows at a time. Only for shrinking.
QImage stripeScaled(const QImage &source, const QSize &size)
{
    const int sw = source.width();
    const int sh = source.height();
    const int w = size.width();
    const int h = size.height();
    const bool alpha = source.hasAlphaChannel();
    QImage out(size, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return out;

    std::vector<int> column(static_cast<size_t>(sw));
    std::vector<quint32> columnCount(static_cast<size_t>(w), 0);
    for (int x = 0; x < sw; ++x) {
        column[size_t(x)] = int(qint64(x) * w / sw);
        ++columnCount[size_t(column[size_t(x)])];
    }
    std::vector<quint64> sums(size_t(w) * 4, 0);
    int outRow = 0;
    quint32 rowsIn = 0;
    const auto flush = [&] {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(outRow));
        for (int x = 0; x < w; ++x) {
            const quint64 n = quint64(columnCount[size_t(x)]) * rowsIn;
            const quint64 *s = &sums[size_t(x) * 4];
            const auto mean = [n](quint64 v) { return n ? int((v + n / 2) / n) : 0; };
            line[x] = qRgba(mean(s[0]), mean(s[1]), mean(s[2]), alpha ? mean(s[3]) : 255);
        }
        std::fill(sums.begin(), sums.end(), 0);
        rowsIn = 0;
    };
    for (int y0 = 0; y0 < sh; y0 += kStripeRows) {
        const int rows = std::min(kStripeRows, sh - y0);
        const QImage stripe = source.copy(0, y0, sw, rows).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (stripe.isNull())
            return QImage();
        for (int r = 0; r < rows; ++r) {
            const int target = int(qint64(y0 + r) * h / sh);
            if (target != outRow) {
                flush();
                outRow = target;
            }
            const QRgb *pixels = reinterpret_cast<const QRgb *>(stripe.constScanLine(r));
            for (int x = 0; x < sw; ++x) {
                const QRgb p = pixels[x];
                quint64 *s = &sums[size_t(column[size_t(x)]) * 4];
                s[0] += quint64(qRed(p));
                s[1] += quint64(qGreen(p));
                s[2] += quint64(qBlue(p));
                s[3] += quint64(qAlpha(p));
            }
            ++rowsIn;
        }
    }
    flush();
    return out;
}

// Scales a decoded image down to size without converting all of it to 32 bits when that is large.
QImage scaledDown(const QImage &image, const QSize &size)
{
    if (image.size() == size)
        return image;
    const bool shrinks = size.width() <= image.width() && size.height() <= image.height();
    const qint64 conversion = scalesWithoutConversion(image.format()) ? 0 : imageBytes(image.size(), QImage::Format_RGB32);
    if (!shrinks || conversion <= kWholeConversionBytes)
        return smoothScaled(image, size);
    return stripeScaled(image, size);
}

} // namespace

QImage smoothScaled(const QImage &image, const QSize &size)
{
    if (image.isNull() || !size.isValid() || image.size() == size)
        return image;
    QImage source = image;
    if (source.depth() < 32 && source.format() != QImage::Format_RGB16)
        source.convertTo(source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

qint64 imageBytes(const QSize &size, QImage::Format format)
{
    if (!size.isValid())
        return 0;
    const qint64 bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    const qint64 bytesPerLine = (qint64(size.width()) * bits + 31) / 32 * 4;
    return bytesPerLine * size.height();
}

void raiseImageAllocationLimit(int megabytes)
{
    if (megabytes > QImageReader::allocationLimit())
        QImageReader::setAllocationLimit(megabytes);
}

QImage readScaled(QImageReader &reader, const QSize &size, DecodeUse use, ImageRead *status)
{
    if (status)
        *status = ImageRead::Failed;
    const auto refuse = [status] {
        if (status)
            *status = ImageRead::TooLarge;
        return QImage();
    };
    // Qt checks its allocation limit as if every pixel took 32 bits, whatever the format: a
    // one-bit image that fits the budget may need a limit far above it. The budget is the guard.
    const auto raiseLimitFor = [](const QSize &decoded) {
        const qint64 megabytes = imageBytes(decoded, QImage::Format_RGB32) / (1024 * 1024) + 1;
        raiseImageAllocationLimit(int(std::min<qint64>(megabytes, std::numeric_limits<int>::max())));
    };
    // Asked before reading: once the file is read, asking again makes the decoder read past its end.
    const QSize stored = reader.size();
    const bool scale = size.isValid() && !size.isEmpty() && size != stored;

    if (scale && shrinksWhileDecoding(reader)) {
        // JPEG decodes at 1/2, 1/4 or 1/8 of the stored size, the smallest step not below size.
        QSize decoded = size;
        if (stored.isValid() && !stored.isEmpty()) {
            int denominator = 1;
            while (denominator < 8 && stored.width() / (denominator * 2) >= size.width()
                   && stored.height() / (denominator * 2) >= size.height())
                denominator *= 2;
            decoded = QSize((stored.width() + denominator - 1) / denominator,
                            (stored.height() + denominator - 1) / denominator);
        }
        if (imageBytes(decoded, QImage::Format_RGB32) + imageBytes(size, QImage::Format_RGB32) > kImageBudgetBytes)
            return refuse();
        raiseLimitFor(decoded);
        reader.setScaledSize(size);
        const QImage image = reader.read();
        if (status && !image.isNull())
            *status = ImageRead::Ok;
        return image;
    }

    if (stored.isValid()) {
        const qint64 full = imageBytes(stored, reader.imageFormat());
        // An orientation from the metadata is applied to a copy.
        const bool turned = reader.autoTransform() && reader.transformation() != QImageIOHandler::TransformationNone;
        if (full * (turned ? 2 : 1) > kImageBudgetBytes)
            return refuse();
        if (use == DecodeUse::Background && scale
            && qint64(stored.width()) * stored.height() > kBackgroundFullDecodePixels)
            return refuse();
        raiseLimitFor(stored);
    }
    QImage image = reader.read();
    if (image.isNull())
        return image;
    if (scale) {
        // The size asked for is in stored orientation; a turned image comes back turned.
        const bool turned = image.size() != stored && image.size() == stored.transposed();
        image = scaledDown(image, turned ? size.transposed() : size);
    }
    if (status && !image.isNull())
        *status = ImageRead::Ok;
    return image;
}
