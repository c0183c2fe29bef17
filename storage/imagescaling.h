#pragma once

#include <QImage>
#include <QSize>
#include <QtGlobal>

class QImageReader;

// Decoding and scaling images without losing them and within a memory budget. Qt scales one-bit
// and palette images in their own format and dithers them to noise (a flat two-colour PNG came
// back black), and its smooth scaler converts any such image to 32 bits at full size first: a
// 109 KB one-bit PNG of 30000 x 30000 pixels became 3.6 GB. Such images are scaled here in
// stripes, converted to 32 bits a few rows at a time. Reentrant.

// Most bytes one decoded image may take; a larger one is refused as too large.
constexpr qint64 kImageBudgetBytes = 1024ll * 1024 * 1024;
// Work done ahead of the user (thumbnails, prefetch) decodes no image of more pixels than this at
// full size; only readers that shrink while decoding (JPEG, WebP) go beyond. Shown, it is decoded.
constexpr qint64 kBackgroundFullDecodePixels = 64ll * 1000 * 1000;

enum class DecodeUse {
    Shown,        // the user waits for it: anything within the budget
    Background,   // thumbnails and prefetch: no large image decoded at full size
};

enum class ImageRead {
    Ok,
    Failed,     // no image: unreadable, not an image, damaged
    TooLarge,   // refused before decoding: beyond the budget (or, in the background, the limit)
};

QImage smoothScaled(const QImage &image, const QSize &size);

// Reads an image at size (in the reader's stored orientation; invalid: as stored). JPEG and WebP
// shrink while decoding; others are decoded in their own format (one bit per pixel stays one bit)
// and scaled down here. Nothing is decoded that would take more than the budget; status tells why
// an image is null.
QImage readScaled(QImageReader &reader, const QSize &size, DecodeUse use = DecodeUse::Shown,
                  ImageRead *status = nullptr);

// Bytes of an image of that size and format (an invalid format counts as 32 bits per pixel).
qint64 imageBytes(const QSize &size, QImage::Format format);

// The image reader's allocation limit is one number for the whole program: it is only ever raised,
// and the programs raise it once at start, before any thread decodes, so that decoders on worker
// threads only read it. readScaled raises it further only for an image beyond that (a huge one-bit
// scan, counted by Qt at 32 bits per pixel) that fits the budget.
void raiseImageAllocationLimit(int megabytes);
