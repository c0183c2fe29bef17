#include "storage/vocfile.h"

#include "storage/atomicfile.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/shapekinds.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QHash>
#include <QFileInfo>
#include <QImageReader>
#include <QPolygonF>
#include <QVarLengthArray>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double numberOrZero(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

// Whole pixels, as the VOC devkit and most VOC files hold them: scripts read them with int().
// A box in whole pixels that stays inside the image (when its size is known) and keeps at least
// one pixel each way: rounding must not move an edge out or make the box empty.
QRect wholePixelBox(const QRectF &box, const QSize &size)
{
    const QRectF b = box.normalized();
    qint64 left = std::llround(b.left());
    qint64 top = std::llround(b.top());
    qint64 right = std::llround(b.right());
    qint64 bottom = std::llround(b.bottom());
    const auto fit = [](qint64 &lo, qint64 &hi, qint64 extent) {
        if (extent > 0) {
            lo = std::clamp<qint64>(lo, 0, extent);
            hi = std::clamp<qint64>(hi, 0, extent);
        }
        if (hi > lo)
            return;
        if (extent <= 0 || lo < extent)
            hi = lo + 1;
        else
            lo = hi - 1;
    };
    fit(left, right, size.isValid() ? size.width() : 0);
    fit(top, bottom, size.isValid() ? size.height() : 0);
    return QRect(QPoint(int(left), int(top)), QPoint(int(right) - 1, int(bottom) - 1));
}

void writeBox(QXmlStreamWriter &xml, const QRectF &box, const QSize &size)
{
    const QRect r = wholePixelBox(box, size);
    xml.writeStartElement(QStringLiteral("bndbox"));
    xml.writeTextElement(QStringLiteral("xmin"), QString::number(r.left()));
    xml.writeTextElement(QStringLiteral("ymin"), QString::number(r.top()));
    xml.writeTextElement(QStringLiteral("xmax"), QString::number(r.left() + r.width()));
    xml.writeTextElement(QStringLiteral("ymax"), QString::number(r.top() + r.height()));
    xml.writeEndElement();
}

// A polygon object carries its bounds too: VOC readers take <bndbox> as required, and some stop
// reading the file at an object without one. size is invalid when the image cannot be read.
QRectF polygonBox(const QList<QPointF> &points, const QSize &size)
{
    QRectF box = QPolygonF(points).boundingRect();
    if (size.isValid()) {
        const double w = size.width();
        const double h = size.height();
        box = QRectF(QPointF(qBound(0.0, box.left(), w), qBound(0.0, box.top(), h)),
                     QPointF(qBound(0.0, box.right(), w), qBound(0.0, box.bottom(), h)));
    }
    return box;
}

QString pointPixel(double value, int extent)
{
    const qint64 v = std::llround(value);
    return QString::number(extent > 0 ? std::clamp<qint64>(v, 0, extent) : v);
}

void writeObject(QXmlStreamWriter &xml, const Annotation &a, const QSize &size)
{
    xml.writeStartElement(QStringLiteral("object"));
    xml.writeTextElement(QStringLiteral("name"), a.label);
    xml.writeTextElement(QStringLiteral("pose"), QStringLiteral("Unspecified"));
    xml.writeTextElement(QStringLiteral("truncated"), QStringLiteral("0"));
    xml.writeTextElement(QStringLiteral("difficult"), a.difficult ? QStringLiteral("1") : QStringLiteral("0"));
    if (a.confidence >= 0)
        xml.writeTextElement(QStringLiteral("confidence"), QString::number(a.confidence, 'f', 4));
    const ShapeKindRules &rules = storedShapeKind(a);
    if (rules.vocChildren) {
        xml.writeStartElement(QString(rules.vocElement));
        const QList<std::pair<QString, QString>> children = rules.vocChildren(a);
        for (const auto &[name, text] : children)
            xml.writeTextElement(name, text);
        xml.writeEndElement();
        writeBox(xml, polygonBox(rules.outline(a), size), size);
    } else if (!rules.vocElement.isEmpty()) {
        const QList<QPointF> outline = rules.outline(a);
        const int w = size.isValid() ? size.width() : 0;
        const int h = size.isValid() ? size.height() : 0;
        QStringList pairs;
        pairs.reserve(outline.size());
        for (const QPointF &p : outline)
            pairs.append(pointPixel(p.x(), w) + QLatin1Char(',') + pointPixel(p.y(), h));
        xml.writeStartElement(QString(rules.vocElement));
        xml.writeTextElement(QStringLiteral("points"), pairs.join(QLatin1Char(' ')));
        xml.writeEndElement();
        writeBox(xml, polygonBox(outline, size), size);
    } else {
        writeBox(xml, a.rect, size);
    }
    xml.writeEndElement();
}

// 1 for grayscale images, as other VOC writers say; 3 for anything else or when the header
// does not tell.
int imageDepth(const QString &imagePath)
{
    const QImage::Format format = QImageReader(imagePath).imageFormat();
    return format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ? 1 : 3;
}

// Reads the children of one container (bndbox or polygon) whose own children carry text.
// Deeper markup is skipped. False on an XML error.
template<typename Handler>
bool readChildren(QXmlStreamReader &xml, Handler handle)
{
    while (xml.readNextStartElement())
        handle(xml.name());
    return !xml.hasError();
}

// A coordinate as VOC files give it: a decimal number with a point. Anything else (a decimal
// comma, an empty element, words, an overflow) makes the object unusable.
bool parseCoordinate(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

// One <object> as read, before it is checked.
struct ObjectFields
{
    Annotation record;
    QString pointsText;
    QHash<QString, QString> outlineChildren;   // of an element whose kind reads its own children
    int edges = 0;              // bits of xmin, ymin, xmax, ymax seen
    bool badNumber = false;     // a coordinate that is not a number
};

// Reads one <object> subtree, the reader standing on its start tag. Only the object's own
// children (and those of its own bndbox and polygon) count, so nested <part> or
// <attributes> elements of other tools cannot overwrite the object's fields.
// Returns false on an XML error (the record is then incomplete).
bool readObject(QXmlStreamReader &xml, ObjectFields &o)
{
    Annotation &a = o.record;
    const bool ok = readChildren(xml, [&](QStringView name) {
        if (name == u"name") {
            a.label = xml.readElementText().trimmed();
        } else if (name == u"difficult") {
            a.difficult = xml.readElementText().trimmed() == u"1";
        } else if (name == u"confidence") {
            a.confidence = numberOrZero(xml.readElementText().trimmed());
        } else if (name == u"bndbox") {
            readChildren(xml, [&](QStringView edge) {
                const int bit = edge == u"xmin" ? 1 : edge == u"ymin" ? 2 : edge == u"xmax" ? 4 : edge == u"ymax" ? 8 : 0;
                if (!bit) {
                    xml.skipCurrentElement();
                    return;
                }
                double v = 0.0;
                if (!parseCoordinate(xml.readElementText().trimmed(), &v))
                    o.badNumber = true;
                o.edges |= bit;
                if (bit == 1)
                    a.rect.setLeft(v);
                else if (bit == 2)
                    a.rect.setTop(v);
                else if (bit == 4)
                    a.rect.setRight(v);
                else
                    a.rect.setBottom(v);
            });
        } else if (const ShapeKindRules *outlined = shapeKindWithVocElement(name)) {
            a.kind = outlined->kind;
            readChildren(xml, [&](QStringView child) {
                if (outlined->fromVocChildren)
                    o.outlineChildren.insert(child.toString(), xml.readElementText());
                else if (child == u"points")
                    o.pointsText = xml.readElementText().trimmed();
                else
                    xml.skipCurrentElement();
            });
        } else {
            xml.skipCurrentElement();
        }
    });
    return ok;
}

// True when the object is a shape we can hold as it is meant: a name, and a box of some width
// and height (corners given the wrong way round are the box they span) or a polygon of at least
// three points, every number a number.
bool finishObject(ObjectFields &o)
{
    Annotation &a = o.record;
    if (a.label.isEmpty() || o.badNumber)
        return false;
    a.rect = a.rect.normalized();
    if (const ShapeKindRules &rules = shapeKindRules(a.kind); rules.fromVocChildren) {
        if (rules.fromVocChildren(a, o.outlineChildren))
            return true;
        // The <bndbox> beside it still holds the shape for readers that know only boxes.
        a.kind = Annotation::Rect;
        a.points.clear();
    } else if (rules.hasOutline()) {
        const QStringList pieces = o.pointsText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &piece : pieces) {
            const QStringList xy = piece.split(QLatin1Char(','));
            double x = 0.0;
            double y = 0.0;
            if (xy.size() != 2 || !parseCoordinate(xy.at(0), &x) || !parseCoordinate(xy.at(1), &y))
                return false;
            a.points.append(QPointF(x, y));
        }
        return a.points.size() >= rules.minPoints;
    }
    return o.edges == 15 && a.rect.width() > 0 && a.rect.height() > 0;
}

// The root element of plain UTF-8 XML, read without an XML reader (the state scanner looks at
// every XML file beside an image): 1 it is <annotation>, 0 it is another element, -1 cannot tell
// quickly (another encoding, a DOCTYPE, a prologue longer than bytes).
int quickRootCheck(const QByteArray &bytes)
{
    QByteArrayView rest(bytes);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    for (;;) {
        rest = rest.trimmed();
        if (!rest.startsWith('<'))
            return -1;
        if (rest.startsWith("<?") || rest.startsWith("<!--")) {
            const QByteArrayView close = rest.startsWith("<?") ? QByteArrayView("?>") : QByteArrayView("-->");
            const qsizetype end = rest.indexOf(close, 2);
            if (end < 0)
                return -1;
            rest = rest.sliced(end + close.size());
            continue;
        }
        if (rest.startsWith("<!"))
            return -1;
        qsizetype n = 1;
        while (n < rest.size() && !std::strchr(" \t\r\n/>", rest.at(n)))
            ++n;
        if (n == rest.size())
            return -1;
        QByteArrayView name = rest.sliced(1, n - 1);
        name = name.sliced(name.lastIndexOf(QByteArrayView(":")) + 1);
        return name == "annotation" ? 1 : 0;
    }
}

// Start tags named "object" in plain UTF-8 XML, counted without an XML reader (the state scanner
// counts every file). -1 whenever the XML reader might see it differently: comments, CDATA, a
// DOCTYPE or entities (where such a tag may be mere text), another encoding, or tags that do not
// nest (the reader stops at the error).
int quickObjectCount(const QByteArray &bytes)
{
    const uchar first = bytes.isEmpty() ? 0 : uchar(bytes.at(0));
    if (first == 0xfe || first == 0xff || bytes.contains('\0') || bytes.contains("<!") || bytes.contains('&'))
        return -1;
    const auto nameEnd = [&bytes](qsizetype from) {
        while (from < bytes.size() && !std::strchr(" \t\r\n/>", bytes.at(from)))
            ++from;
        return from;
    };
    QVarLengthArray<QByteArrayView, 16> open;
    bool rootClosed = false;
    int count = 0;
    for (qsizetype at = bytes.indexOf('<'); at >= 0; at = bytes.indexOf('<', at + 1)) {
        if (at + 1 < bytes.size() && bytes.at(at + 1) == '?') {
            at = bytes.indexOf("?>", at + 2);
            if (at < 0)
                return -1;
            continue;
        }
        const bool endTag = at + 1 < bytes.size() && bytes.at(at + 1) == '/';
        const qsizetype start = at + (endTag ? 2 : 1);
        const qsizetype end = nameEnd(start);
        const QByteArrayView name(bytes.constData() + start, end - start);
        // The tag's closing '>', past quoted attribute values that may hold one.
        qsizetype close = end;
        char quote = 0;
        for (; close < bytes.size(); ++close) {
            const char c = bytes.at(close);
            if (quote)
                quote = c == quote ? 0 : quote;
            else if (c == '"' || c == '\'')
                quote = c;
            else if (c == '>')
                break;
        }
        if (name.isEmpty() || close >= bytes.size())
            return -1;
        if (endTag) {
            if (open.isEmpty() || open.last() != name)
                return -1;
            open.removeLast();
            rootClosed = open.isEmpty();
        } else {
            if (rootClosed)
                return -1;
            if (name.sliced(name.lastIndexOf(QByteArrayView(":")) + 1) == QByteArrayView("object"))
                ++count;
            if (bytes.at(close - 1) != '/')
                open.append(name);
            else if (open.isEmpty())
                rootClosed = true;
        }
        at = close;
    }
    return count;
}

} // namespace

QList<Annotation> readVocFile(const QString &xmlPath, ReadProblem *problem)
{
    if (problem)
        *problem = {ReadProblem::Unreadable, 0};
    QByteArray bytes;
    if (readRegularFile(xmlPath, &bytes) != FileRead::Ok) {
        if (problem && QFileInfo(xmlPath).size() > kLabelFileLimit)
            problem->kind = ReadProblem::TooLarge;
        return {};
    }
    return readVocBytes(bytes, problem);
}

QList<Annotation> readVocBytes(const QByteArray &bytes, ReadProblem *problem)
{
    // The reader gets the bytes as they are: it detects the encoding (UTF-16 too) and line ends.
    // Entities expand only up to the reader's limit; a file that asks for more is an XML error.
    QList<Annotation> result;
    ReadProblem first;
    qint64 objects = 0;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        // The reader leaves an external entity out of the text that refers to it, without a word.
        if (token == QXmlStreamReader::DTD && first.isNone()) {
            const QXmlStreamEntityDeclarations entities = xml.entityDeclarations();
            const bool external = std::any_of(entities.cbegin(), entities.cend(), [](const auto &e) {
                return !e.systemId().isEmpty() || !e.publicId().isEmpty();
            });
            if (external)
                first = {ReadProblem::ExternalEntity, xml.lineNumber()};
        }
        if (token != QXmlStreamReader::StartElement || xml.name() != u"object")
            continue;
        ++objects;
        ObjectFields o;
        if (!readObject(xml, o))
            break;
        if (finishObject(o) && o.record.hasFiniteGeometry())
            result.append(o.record);
        else if (first.isNone())
            first = {ReadProblem::UnusableObject, objects};
    }
    // An empty file holds nothing that could be lost. An XML error ends the reading, so it names
    // the place from which on nothing was read.
    if (xml.hasError() && !bytes.trimmed().isEmpty())
        first = {ReadProblem::XmlError, xml.lineNumber()};
    if (problem)
        *problem = first;
    return result;
}

bool writeVocFile(const QString &imagePath, const QList<Annotation> &annotations, const QString &xmlPath)
{
    const QString target = xmlPath.isEmpty() ? vocXmlPath(imagePath) : xmlPath;
    const QString folder = QFileInfo(target).absolutePath();
    const QString root = datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath());
    if (!makeFolderInside(folder, root))
        return false;

    const QFileInfo image(imagePath);
    const QSize size = imageSize(imagePath);
    const int width = size.isValid() ? size.width() : -1;
    const int height = size.isValid() ? size.height() : -1;

    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("annotation"));
    xml.writeTextElement(QStringLiteral("folder"), QFileInfo(image.absolutePath()).fileName());
    xml.writeTextElement(QStringLiteral("filename"), image.fileName());
    xml.writeTextElement(QStringLiteral("path"), image.absoluteFilePath());
    xml.writeStartElement(QStringLiteral("source"));
    xml.writeTextElement(QStringLiteral("database"), QStringLiteral("Brindlemark"));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("size"));
    xml.writeTextElement(QStringLiteral("width"), QString::number(width));
    xml.writeTextElement(QStringLiteral("height"), QString::number(height));
    xml.writeTextElement(QStringLiteral("depth"), QString::number(size.isValid() ? imageDepth(imagePath) : 3));
    xml.writeEndElement();
    xml.writeTextElement(QStringLiteral("segmented"), QStringLiteral("0"));
    for (const Annotation &a : annotations) {
        if (!a.label.isEmpty() && a.hasFiniteGeometry())
            writeObject(xml, a, size);
    }
    xml.writeEndElement();
    xml.writeEndDocument();

    return !xml.hasError() && writeFileAtomically(target, bytes, root);
}

bool isVocAnnotationFile(const QString &xmlPath, QByteArray *content, bool *whole)
{
    // The root comes first; a long prologue (comments, a DOCTYPE) needs the rest of the file.
    QByteArray bytes;
    bool all = false;
    if (whole)
        *whole = false;
    if (readFileHead(xmlPath, &bytes, 65536, &all) != FileRead::Ok)
        return false;
    if (whole)
        *whole = all;
    if (content && all)
        *content = bytes;
    const int quick = quickRootCheck(bytes);
    if (quick >= 0)
        return quick == 1;
    for (;;) {
        QXmlStreamReader xml(bytes);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement)
                return xml.name() == u"annotation";
        }
        if (all || xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
            return false;
        if (readRegularFile(xmlPath, &bytes) != FileRead::Ok)
            return false;
        all = true;
    }
}

int countVocObjects(const QString &xmlPath)
{
    QByteArray bytes;
    if (readRegularFile(xmlPath, &bytes) != FileRead::Ok)
        return -1;
    return countVocObjectsIn(bytes);
}

int countVocObjectsIn(const QByteArray &bytes)
{
    const int quick = quickObjectCount(bytes);
    if (quick >= 0)
        return quick;
    int count = 0;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"object")
            ++count;
    }
    return count;
}
