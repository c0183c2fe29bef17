// The YOLO reader and the line count on arbitrary label files next to a 64×48 image.

#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

#include "tests/fuzz/fuzzsupport.h"

namespace {

const int kWidth = 64;
const int kHeight = 48;

struct Dataset
{
    QString image;
    QString labelFile;
};

const Dataset &dataset()
{
    static const Dataset d = [] {
        Dataset d;
        const QString root = Fuzz::scratchDir() + QStringLiteral("/ds");
        d.image = root + QStringLiteral("/images/pic.png");
        Fuzz::writeImage(d.image, kWidth, kHeight);
        // A gap and surrounding blanks, as class lists from other tools have them.
        const QByteArray classes("cat\n  dog \n\nbird\n");
        Fuzz::writeFile(root + QStringLiteral("/labels/classes.txt"), classes.constData(), classes.size());
        d.labelFile = yoloLabelPath(d.image);
        return d;
    }();
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Dataset &d = dataset();
    Fuzz::writeFile(d.labelFile, reinterpret_cast<const char *>(data), qsizetype(size));

    const StoredAnnotations stored = readStoredAnnotations(d.image);
    FUZZ_CHECK(stored.file == d.labelFile);
    const int count = countAnnotations(d.image);
    FUZZ_CHECK(count >= 0);
    // The file list shows the count; loading never finds more objects than it promised.
    FUZZ_CHECK(stored.annotations.size() <= count);
    for (const Annotation &a : stored.annotations) {
        Fuzz::checkStoredRecord(a);
        FUZZ_CHECK(a.pending == 0 && !a.difficult);
        FUZZ_CHECK(a.confidence == -1.0 || a.confidence > 0);
        if (a.kind == Annotation::Polygon) {
            for (const QPointF &p : a.points)
                FUZZ_CHECK(p.x() >= 0 && p.x() <= kWidth && p.y() >= 0 && p.y() <= kHeight);
        }
    }
    FUZZ_CHECK(loadAnnotations(d.image) == stored.annotations);
    return 0;
}
