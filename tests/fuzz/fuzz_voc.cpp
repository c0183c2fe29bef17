// The VOC reader and the object count on arbitrary XML in the annotations folder of an image.

#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/vocfile.h"

#include "tests/fuzz/fuzzsupport.h"

#include <QXmlStreamReader>

namespace {

struct Dataset
{
    QString image;
    QString xmlFile;
};

const Dataset &dataset()
{
    static const Dataset d = [] {
        Dataset d;
        d.image = Fuzz::scratchDir() + QStringLiteral("/ds/pic.png");
        Fuzz::writeImage(d.image, 64, 48);
        d.xmlFile = vocXmlPath(d.image);
        return d;
    }();
    return d;
}

// What a full XML reader sees: start tags named "object" up to the first error.
int objectTags(const QByteArray &bytes)
{
    int count = 0;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"object")
            ++count;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Dataset &d = dataset();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    Fuzz::writeFile(d.xmlFile, bytes.constData(), bytes.size());

    ReadProblem problem;
    const QList<Annotation> fromBytes = readVocBytes(bytes, &problem);
    const bool complete = problem.isNone();
    const QList<Annotation> fromFile = readVocFile(d.xmlFile);
    FUZZ_CHECK(fromFile == fromBytes);

    const StoredAnnotations stored = readStoredAnnotations(d.image);
    FUZZ_CHECK(stored.file == d.xmlFile);
    FUZZ_CHECK(stored.annotations == fromBytes);
    FUZZ_CHECK(stored.complete() == complete);

    const int count = countVocObjectsIn(bytes);
    FUZZ_CHECK(countVocObjects(d.xmlFile) == count);
    FUZZ_CHECK(countAnnotations(d.image) == count);
    // The quick count may read past an XML error, never stop short of the reader.
    FUZZ_CHECK(count >= objectTags(bytes));
    FUZZ_CHECK(fromBytes.size() <= objectTags(bytes));

    for (const Annotation &a : fromBytes) {
        Fuzz::checkStoredRecord(a);
        FUZZ_CHECK(a.pending == 0);
        if (a.kind == Annotation::Rect)
            FUZZ_CHECK(a.rect.width() > 0 && a.rect.height() > 0 && a.points.isEmpty());
    }
    return 0;
}
