#include "ui/imagedecoder.h"

#include "storage/filebytes.h"
#include "storage/imagescaling.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace {

// Room the reader needs for w x h pixels of 4 bytes, in MB, for its allocation limit.
int allocationLimitFor(const QSize &size)
{
    const qint64 mb = qint64(size.width()) * size.height() * 4 / (1024 * 1024) + 16;
    return int(std::clamp<qint64>(mb, 256, 4096));
}

} // namespace

DecodedImage decodeImage(const QString &path, const QSize &fitInto)
{
    DecodedImage result;
    result.path = path;
    result.fitInto = fitInto;
    if (!isRegularFile(path))
        return result;

    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    QSize shown = turned ? stored.transposed() : stored;

    QSize decodeStored;   // the size to ask the reader for, in stored orientation; invalid: full
    if (stored.isValid() && !stored.isEmpty() && fitInto.isValid() && !fitInto.isEmpty()) {
        // At fit zoom the whole image is shown inside fitInto.
        const double k = std::min(double(fitInto.width()) / shown.width(),
                                  double(fitInto.height()) / shown.height());
        if (k < 0.5) {
            const bool jpeg = reader.format() == "jpeg" || reader.format() == "jpg";
            int denominator = 1;
            if (jpeg) {
                // The decoder scales by 1/2, 1/4 and 1/8 exactly and cheaply.
                while (denominator < 8 && k * denominator * 2 <= 1.0)
                    denominator *= 2;
                if (denominator > 1)
                    decodeStored = QSize((stored.width() + denominator - 1) / denominator,
                                         (stored.height() + denominator - 1) / denominator);
            } else {
                const double f = std::min(1.0, k * 1.25);
                decodeStored = QSize(std::max(1, int(std::ceil(stored.width() * f))),
                                     std::max(1, int(std::ceil(stored.height() * f))));
            }
        }
    }
    // Large photos exceed the reader's default limit only when decoded in full.
    if (!decodeStored.isValid() || !readsScaledNatively(reader))
        raiseImageAllocationLimit(allocationLimitFor(stored.isValid() ? stored : QSize(1, 1)));
    QImage image = readScaled(reader, decodeStored);
    if (image.isNull())
        return result;
    if (!shown.isValid() || shown.isEmpty())
        shown = image.size();
    result.fullSize = decodeStored.isValid() ? shown : image.size();
    // Opaque images draw fastest as RGB32.
    if (!image.hasAlphaChannel() && image.format() != QImage::Format_RGB32)
        image.convertTo(QImage::Format_RGB32);
    // Set while nothing else shares the pixels: the canvas would otherwise copy them to set it.
    if (result.fullSize.width() > 0 && image.width() != result.fullSize.width())
        image.setDevicePixelRatio(double(image.width()) / result.fullSize.width());
    result.image = image;
    return result;
}

bool needsMoreResolution(const DecodedImage &decoded, double scale, double dpr)
{
    if (decoded.isNull() || decoded.isFullResolution() || decoded.fullSize.isEmpty())
        return false;
    const double shownWidth = decoded.fullSize.width() * scale * dpr;
    return shownWidth > decoded.image.width() * 1.01;
}
