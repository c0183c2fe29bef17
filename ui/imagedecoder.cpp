#include "ui/imagedecoder.h"

#include "storage/filebytes.h"
#include "storage/imagescaling.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>
#include <cmath>

DecodedImage decodeImage(const QString &path, const QSize &fitInto, DecodeUse use, bool coarse)
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
        const bool jpeg = reader.format() == "jpeg" || reader.format() == "jpg";
        if (k < 0.5 || (coarse && jpeg && k < 1.0)) {
            int denominator = 1;
            if (jpeg) {
                // The decoder scales by 1/2, 1/4 and 1/8 exactly and cheaply.
                while (denominator < 8 && k * denominator * 2 <= 1.0)
                    denominator *= 2;
                if (coarse && denominator < 8) {
                    denominator *= 2;
                    result.coarse = true;
                }
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
    // The canvas draws 32-bit pixels: more than the budget of them is shown reduced, even at 100 %.
    const QSize pixels = decodeStored.isValid() ? decodeStored : stored;
    const qint64 bytes = imageBytes(pixels, QImage::Format_RGB32);
    if (pixels.isValid() && !pixels.isEmpty() && bytes > kImageBudgetBytes) {
        const double f = std::sqrt(double(kImageBudgetBytes) / double(bytes)) * 0.99;
        decodeStored = QSize(std::max(1, int(pixels.width() * f)), std::max(1, int(pixels.height() * f)));
    }
    ImageRead read = ImageRead::Failed;
    QImage image = readScaled(reader, decodeStored, use, &read);
    result.tooLarge = read == ImageRead::TooLarge;
    if (image.isNull())
        return result;
    if (!shown.isValid() || shown.isEmpty())
        shown = image.size();
    result.fullSize = decodeStored.isValid() ? shown : image.size();
    // Opaque images draw fastest as RGB32.
    if (!image.hasAlphaChannel() && image.format() != QImage::Format_RGB32)
        image.convertTo(QImage::Format_RGB32);
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
