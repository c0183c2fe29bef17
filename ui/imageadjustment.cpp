#include "ui/imageadjustment.h"

#include <algorithm>
#include <cmath>

ImageAdjustment ImageAdjustment::clamped() const
{
    return {std::clamp(brightness, kMinBrightness, kMaxBrightness), std::clamp(contrast, kMinContrast, kMaxContrast)};
}

AdjustmentTable adjustmentTable(const ImageAdjustment &adjustment)
{
    const ImageAdjustment a = adjustment.clamped();
    const double gain = 1.0 + a.contrast / 100.0;
    const double offset = a.brightness * 255.0 / 100.0;
    AdjustmentTable table;
    for (int v = 0; v < 256; ++v) {
        const long out = std::lround((v - 128) * gain + 128 + offset);
        table[size_t(v)] = uchar(std::clamp(out, 0L, 255L));
    }
    return table;
}

QImage adjustedImage(const QImage &image, const ImageAdjustment &adjustment)
{
    if (adjustment.isDefault() || image.isNull())
        return image;
    // 32-bit pixels with straight (not premultiplied) alpha: a table per channel is then exact.
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage source = image.format() == format ? image : image.convertToFormat(format);
    QImage out(source.size(), format);
    if (out.isNull())
        return image;   // no memory for a copy: shown as decoded
    out.setDevicePixelRatio(source.devicePixelRatio());
    // The table once per channel position, shifted in place: half the work per pixel.
    const AdjustmentTable t = adjustmentTable(adjustment);
    std::array<quint32, 256> red, green, blue;
    for (size_t v = 0; v < 256; ++v) {
        red[v] = quint32(t[v]) << 16;
        green[v] = quint32(t[v]) << 8;
        blue[v] = t[v];
    }
    const int width = source.width();
    for (int y = 0; y < source.height(); ++y) {
        const auto *in = reinterpret_cast<const quint32 *>(source.constScanLine(y));
        auto *to = reinterpret_cast<quint32 *>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 p = in[x];
            to[x] = (p & 0xff000000u) | red[(p >> 16) & 0xff] | green[(p >> 8) & 0xff] | blue[p & 0xff];
        }
    }
    return out;
}
