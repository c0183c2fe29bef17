// The pending-results reader on arbitrary files, and what a rewrite of its result reads back as.

#include "storage/pendingfile.h"

#include "tests/fuzz/fuzzsupport.h"

namespace {

// Rewriting may move a box's right edge by rounding (it is stored as left + width); on
// coordinates beyond any image the difference is no longer small.
const double kPlausible = 1e7;

bool near(double a, double b)
{
    return std::abs(a - b) <= 1e-6;
}

bool plausible(const QRectF &r)
{
    return std::abs(r.left()) < kPlausible && std::abs(r.top()) < kPlausible && std::abs(r.right()) < kPlausible
        && std::abs(r.bottom()) < kPlausible;
}

bool sameRecord(const Annotation &a, const Annotation &b)
{
    if (a.kind != b.kind || a.label != b.label || a.confidence != b.confidence || a.difficult != b.difficult
        || a.pending != b.pending)
        return false;
    if (a.kind == Annotation::Polygon)
        return a.points == b.points;
    if (!plausible(a.rect))
        return true;
    return near(a.rect.left(), b.rect.left()) && near(a.rect.top(), b.rect.top())
        && near(a.rect.right(), b.rect.right()) && near(a.rect.bottom(), b.rect.bottom());
}

// Text that UTF-8 cannot carry (a lone surrogate from a JSON escape) cannot survive a rewrite.
bool survivesUtf8(const AnnotationCache &cache)
{
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        if (!it.key().isValidUtf16())
            return false;
        for (const Annotation &a : it.value()) {
            if (!a.label.isValidUtf16())
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString dir = Fuzz::scratchDir();
    Fuzz::writeFile(pendingFilePath(dir), reinterpret_cast<const char *>(data), qsizetype(size));

    bool readable = false;
    const AnnotationCache cache = readPendingFile(dir, &readable);
    FUZZ_CHECK(readable);
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        FUZZ_CHECK(!it.value().isEmpty());
        for (const Annotation &a : it.value()) {
            FUZZ_CHECK(a.id == 0 && a.pending == 1);
            FUZZ_CHECK(a.kind == Annotation::Rect || a.kind == Annotation::Polygon);
            FUZZ_CHECK(a.hasFiniteGeometry());
            FUZZ_CHECK(Fuzz::finite(a.confidence));
            if (a.kind == Annotation::Polygon)
                FUZZ_CHECK(a.points.size() >= 3 && a.rect.isNull());
        }
    }

    // Every record read is pending, so a rewrite keeps each of them.
    FUZZ_CHECK(writePendingFile(dir, cache));
    const AnnotationCache again = readPendingFile(dir);
    if (!survivesUtf8(cache))
        return 0;
    FUZZ_CHECK(again.keys().size() == cache.keys().size());
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        const QList<Annotation> back = again.value(it.key());
        FUZZ_CHECK(back.size() == it.value().size());
        for (qsizetype i = 0; i < back.size(); ++i)
            FUZZ_CHECK(sameRecord(it.value().at(i), back.at(i)));
    }
    return 0;
}
