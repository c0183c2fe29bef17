#pragma once

#include "storage/imagescaling.h"
#include "ui/imageadjustment.h"

#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QString>

// Decoding images for the canvas. A photo is decoded only as large as the canvas shows it:
// JPEG decodes at 1/2, 1/4 or 1/8 of its size nearly for free, and a 100-megapixel photo then
// needs a few megabytes instead of 400. The full resolution is decoded when the user zooms in.
struct DecodedImage
{
    QString path;
    QImage image;    // the pixels to show, possibly a reduced copy
    QSize fullSize;  // the image's size as shown (EXIF orientation applied), in image pixels
    QSize fitInto;   // the area the pixels were chosen for; invalid: full resolution
    bool tooLarge = false;   // null because decoding it would exceed the memory budget
    bool coarse = false;     // decoded a step below what fitInto shows, to be replaced soon
    // image as shown under adjustment; null for the default. image stays as decoded, so that
    // another setting is applied to it afresh.
    QImage adjusted;
    ImageAdjustment adjustment;

    bool isNull() const { return image.isNull(); }
    bool isFullResolution() const { return image.size() == fullSize; }
    const QImage &shown() const { return adjusted.isNull() ? image : adjusted; }
    // One pass over the pixels, none for the default.
    void setAdjustment(const ImageAdjustment &a)
    {
        adjustment = a;
        adjusted = a.isDefault() ? QImage() : adjustedImage(image, a);
    }
};
Q_DECLARE_METATYPE(DecodedImage)

// Decodes path with its EXIF orientation applied. fitInto is the canvas area in device pixels
// that the whole image must cover at "fit" zoom; an invalid size asks for full resolution, which
// stays within the memory budget (a larger image comes reduced). Prefetch decodes with
// DecodeUse::Background: no huge image at full size. Thread-safe (reentrant). Null image when the
// file cannot be decoded (tooLarge: not within the budget).
// coarse: a JPEG one decoder step smaller than fitInto would want (half the pixels per side,
// several times faster), for an image that must show now while the user holds a key.
DecodedImage decodeImage(const QString &path, const QSize &fitInto, DecodeUse use = DecodeUse::Shown,
                         bool coarse = false);

// True when shown at scale (screen pixels per image pixel) times dpr, decoded would look
// blurred: its pixels are stretched.
bool needsMoreResolution(const DecodedImage &decoded, double scale, double dpr);
