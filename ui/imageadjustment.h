#pragma once

#include <QImage>
#include <QMetaType>

#include <array>

// Brightness and contrast of the image on the canvas: how it is shown, never the file. Both in
// percent; 0 and 0 show the pixels as decoded. A pixel channel v becomes
// (v - 128) * (1 + contrast / 100) + 128 + brightness * 255 / 100, clamped to 0..255: contrast
// turns around mid-grey, brightness shifts by a share of the full range.
struct ImageAdjustment
{
    static constexpr int kMinBrightness = -100;
    static constexpr int kMaxBrightness = 100;
    static constexpr int kMinContrast = -50;   // half the differences; below that the image is a grey fog
    static constexpr int kMaxContrast = 100;   // twice the differences
    static constexpr int kStep = 10;           // one key press

    int brightness = 0;
    int contrast = 0;

    bool isDefault() const { return brightness == 0 && contrast == 0; }
    // Within the ranges above.
    ImageAdjustment clamped() const;
    friend bool operator==(const ImageAdjustment &a, const ImageAdjustment &b)
    {
        return a.brightness == b.brightness && a.contrast == b.contrast;
    }
    friend bool operator!=(const ImageAdjustment &a, const ImageAdjustment &b) { return !(a == b); }
};
Q_DECLARE_METATYPE(ImageAdjustment)

using AdjustmentTable = std::array<uchar, 256>;

// The value of every channel value under adjustment (the same for red, green and blue).
AdjustmentTable adjustmentTable(const ImageAdjustment &adjustment);

// image as shown under adjustment: one pass over its pixels through the table, alpha kept. The
// default returns image itself (shared, no pass). Reentrant: the prefetch threads call it.
QImage adjustedImage(const QImage &image, const ImageAdjustment &adjustment);
