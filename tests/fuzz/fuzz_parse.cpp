// Detection parsing on arbitrary answer texts, for an image sent at half its size.

#include "inference/detectionparser.h"

#include "tests/fuzz/fuzzsupport.h"

#include <QStringList>

namespace {

const QSize kSource(3136, 1568);
const QSize kSent(1568, 784);
const double kMinScore = 0.3;

void checkResult(const QList<Annotation> &out, const QStringList &classes, bool restricted, bool pending)
{
    FUZZ_CHECK(out.size() <= 10001);
    const QRectF image(QPointF(0, 0), QSizeF(kSource));
    for (const Annotation &a : out) {
        FUZZ_CHECK(a.id == 0 && !a.difficult);
        FUZZ_CHECK(a.pending == (pending ? 1 : 0));
        FUZZ_CHECK(a.hasFiniteGeometry());
        FUZZ_CHECK(Fuzz::finite(a.confidence) && a.confidence >= kMinScore);
        FUZZ_CHECK(a.rect.width() >= 2 && a.rect.height() >= 2);
        FUZZ_CHECK(image.contains(a.rect));
        if (a.kind == Annotation::Polygon) {
            FUZZ_CHECK(a.points.size() >= 3);
            for (const QPointF &p : a.points)
                FUZZ_CHECK(p.x() >= 0 && p.x() <= image.width() && p.y() >= 0 && p.y() <= image.height());
        } else {
            FUZZ_CHECK(a.kind == Annotation::Rect && a.points.isEmpty());
        }
        if (restricted)
            FUZZ_CHECK(classes.contains(a.label));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::scratchDir();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QStringList classes{QStringLiteral("person"), QStringLiteral("car"), QString(),
                              QStringLiteral("traffic light")};
    checkResult(parseDetections(text, kSource, kSent, kMinScore, classes, true, true), classes, true, true);
    checkResult(parseDetections(text, kSource, kSent, kMinScore, {}, false, false), {}, false, false);
    return 0;
}
