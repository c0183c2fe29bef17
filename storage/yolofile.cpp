#include "storage/yolofile.h"

#include "storage/atomicfile.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/keypoints.h"
#include "storage/shapekinds.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPolygonF>
#include <QSet>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// False for anything but a finite number (words, decimal commas, overflow, inf/nan); value is then 0.
// Plain ASCII numbers parse from bytes: QString::toDouble costs several times more, and a
// label file is mostly numbers. Whatever the byte parser refuses gets the full parser.
// The common plain number ("0.123456") is read in place, without a byte copy per field: a
// polygon row may hold two million of them.
bool parseNumber(QStringView text, double *value)
{
    bool ok = false;
    double v = 0.0;
    char ascii[32];
    const qsizetype n = text.size();
    if (n > 0 && n < qsizetype(sizeof ascii) && text.front() != u'+') {
        qsizetype i = 0;
        for (; i < n && text.at(i).unicode() < 0x80; ++i)
            ascii[i] = char(text.at(i).unicode());
        if (i == n) {
            const auto [end, error] = std::from_chars(ascii, ascii + n, v);
            ok = error == std::errc() && end == ascii + n;
        }
    }
    if (!ok)
        v = text.toLatin1().toDouble(&ok);
    if (!ok)
        v = text.toDouble(&ok);
    if (ok && std::isfinite(v)) {
        *value = v;
        return true;
    }
    *value = 0.0;
    return false;
}

void appendNumber(QByteArray &line, double value)
{
    line += ' ';
    line += QByteArray::number(value, 'f', 6);
}

// The class number a digits-only label stands for, as reading an index that no name gives makes
// it ("7" for a class past the list); -1 for any other label.
int numberLabel(const QString &label)
{
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (label.isEmpty() || !std::all_of(label.cbegin(), label.cend(), isDigit))
        return -1;
    bool ok = false;
    const int number = label.toInt(&ok);
    return ok && QString::number(number) == label ? number : -1;
}

// A label that is written as its own number: one the list does not hold whose number names no
// class (past the list, or a gap in a YAML map, which our list calls "class<N>"), so that such a
// class survives a round trip. -1 for every other label; a number that names another class is a
// category name like any other.
int unnamedClassNumber(const QString &label, const QStringList &classes)
{
    const int number = numberLabel(label);
    if (number < 0 || classes.contains(label))
        return -1;
    if (number >= classes.size())
        return number;
    const QString &name = classes.at(number);
    // classListLines names a gap "class<N>": still the class of that number.
    return name.isEmpty() || name == QLatin1String("class") + label ? number : -1;
}

// The class numbers the file being replaced writes without a name. Only a label read from such a
// row is its own number again; any other digits-only label (a model's "5") is a name like any
// other, or a class added later would take its number and the box would change class.
QList<QStringView> splitFields(QStringView line);

QSet<int> unnamedNumbersIn(const QString &labelFile, const QStringList &classes)
{
    QSet<int> numbers;
    QByteArray bytes;
    if (readRegularFile(labelFile, &bytes) != FileRead::Ok)
        return numbers;
    for (const QString &line : splitLines(QString::fromUtf8(bytes))) {
        const QList<QStringView> fields = splitFields(line);
        if (fields.isEmpty())
            continue;
        bool ok = false;
        const int index = fields.first().toInt(&ok, 10);
        const int number = ok && index >= 0 ? unnamedClassNumber(QString::number(index), classes) : -1;
        if (number >= 0)
            numbers.insert(number);
    }
    return numbers;
}

// The class index of a label, appending a new name to the list. A label is its own number only
// when the file already writes it so (unnamed). A new name never takes a number that a label of
// the file is written as (kept): that number gets its own text as its name.
int classIndexFor(const QString &label, QStringList &classes, const QSet<int> &kept, const QSet<int> &unnamed)
{
    const qsizetype at = classes.indexOf(label);
    if (at >= 0)
        return int(at);
    const int number = unnamedClassNumber(label, classes);
    if (number >= 0 && unnamed.contains(number))
        return number;
    while (kept.contains(int(classes.size())))
        classes.append(QString::number(classes.size()));
    classes.append(label);
    return int(classes.size() - 1);
}

// Empty when the shape cannot be written with finite numbers. In a file that holds polygons a box
// is written as the polygon of its corners: training tools read such a file as segmentation and
// would take a 5-value row for a two-point segment.
QByteArray lineFor(const Annotation &a, int classIndex, double w, double h, bool segmentation,
                   const KeypointLayout &pose)
{
    QList<double> values;
    const ShapeKindRules &rules = storedShapeKind(a);
    const bool clamp = rules.clampedToImage;
    const auto addPoint = [&values, w, h, clamp](const QPointF &p) {
        values.append((clamp ? qBound(0.0, p.x(), w) : p.x()) / w);
        values.append((clamp ? qBound(0.0, p.y(), h) : p.y()) / h);
    };
    if (rules.hasOutline() || segmentation) {
        // Clamping below would turn an endless box edge into the image's.
        if (!rules.hasOutline() && !a.hasFiniteGeometry())
            return {};
        for (const QPointF &p : rules.outline(a))
            addPoint(p);
    } else {
        const QRectF &r = a.rect;
        values = {(r.left() + r.right()) / 2.0 / w, (r.top() + r.bottom()) / 2.0 / h, r.width() / w,
                  r.height() / h};
        if (pose.isPose()) {
            // A box without keypoints of its own (drawn here, a model's) gets the unlabelled ones:
            // every row of a pose file has the same length.
            const Keypoints k = a.keypoints.isEmpty() ? unlabelledKeypoints(pose) : a.keypoints;
            for (qsizetype i = 0; i < k.points.size(); ++i) {
                addPoint(k.points.at(i));
                if (pose.dims == 3)
                    values.append(k.visibility.at(i));
            }
        }
    }
    QByteArray line = QByteArray::number(classIndex);
    for (double v : std::as_const(values)) {
        if (!std::isfinite(v))
            return {};
        appendNumber(line, v);
    }
    line += '\n';
    return line;
}

// Training tools split at any run of spaces or tabs.
QList<QStringView> splitFields(QStringView line)
{
    QList<QStringView> fields;
    fields.reserve(std::min<qsizetype>(line.size() / 2 + 1, 64));
    qsizetype start = -1;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const bool separator = i == line.size() || line.at(i) == u' ' || line.at(i) == u'\t';
        if (separator) {
            if (start >= 0)
                fields.append(line.mid(start, i - start));
            start = -1;
        } else if (start < 0) {
            start = i;
        }
    }
    return fields;
}

// A pose row: the box, then the keypoints, each value a number. Keypoints are kept as they are,
// even past the image: only a write clips them.
bool parsePoseValues(const QList<QStringView> &fields, const KeypointLayout &pose, double w, double h,
                     Annotation &a)
{
    QList<double> numbers(fields.size() - 1);
    for (qsizetype i = 1; i < fields.size(); ++i) {
        if (!parseNumber(fields.at(i), &numbers[i - 1]))
            return false;
    }
    const double cx = numbers.at(0);
    const double cy = numbers.at(1);
    const double bw = numbers.at(2);
    const double bh = numbers.at(3);
    a.rect = QRectF(w * cx - w * bw * 0.5, h * cy - h * bh * 0.5, w * bw, h * bh);
    a.keypoints.points.reserve(pose.count);
    for (qsizetype i = 4; i + pose.dims <= numbers.size(); i += pose.dims) {
        a.keypoints.points.append(QPointF(numbers.at(i) * w, numbers.at(i + 1) * h));
        if (pose.dims == 3)
            a.keypoints.visibility.append(numbers.at(i + 2));
    }
    return true;
}

bool parseLine(QStringView rawLine, const QStringList &classes, double w, double h, const KeypointLayout &pose,
               Annotation &out)
{
    const QList<QStringView> fields = splitFields(rawLine);
    if (fields.size() < 5)
        return false;
    // In a pose dataset a longer row is a box with keypoints or nothing usable, never an outline.
    const bool poseRow = pose.isPose() && fields.size() > 6;
    if (poseRow && fields.size() != pose.rowValues())
        return false;
    bool ok = false;
    const int classIndex = fields.first().toInt(&ok, 10);
    // Training tools refuse negative classes; written back, "-1" would become a new name.
    if (!ok || classIndex < 0)
        return false;

    // Geometry that is not a number damages the line; a confidence that is not is just no confidence.
    const qsizetype geometryFields = fields.size() <= 6 ? 4 : ((fields.size() - 1) / 2) * 2;
    QList<double> numbers(poseRow ? 0 : fields.size() - 1);
    for (qsizetype i = 1; i < numbers.size() + 1; ++i) {
        if (!parseNumber(fields.at(i), &numbers[i - 1]) && i - 1 < geometryFields)
            return false;
    }

    Annotation a;
    // An index the names leave out (past the list, or a gap in a YAML map) stays a number, unless
    // that number is the name of another class: it could not be told from that class again.
    const bool named = classIndex < classes.size() && !classes.at(classIndex).isEmpty();
    a.label = named ? classes.at(classIndex) : QString::number(classIndex);
    if (!named && classes.contains(a.label))
        return false;
    if (poseRow) {
        if (!parsePoseValues(fields, pose, w, h, a))
            return false;
        for (const QPointF &p : std::as_const(a.keypoints.points)) {
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                return false;
        }
    } else if (fields.size() <= 6) {
        const double cx = numbers.at(0);
        const double cy = numbers.at(1);
        const double bw = numbers.at(2);
        const double bh = numbers.at(3);
        a.rect = QRectF(w * cx - w * bw * 0.5, h * cy - h * bh * 0.5, w * bw, h * bh);
        if (fields.size() == 6 && numbers.at(4) > 0)
            a.confidence = numbers.at(4);
    } else {
        const qsizetype n = numbers.size();
        a.points.reserve(n / 2);
        for (qsizetype i = 0; i + 1 < n; i += 2) {
            a.points.append(QPointF(numbers.at(i) * w, numbers.at(i + 1) * h));
        }
        if (a.points.size() <= 2)
            return false;
        // A box the writer gave as its corners reads back as a box, four corners at right angles
        // as a rotated box (Ultralytics' oriented boxes).
        const ShapeKindRules *outlined = shapeKindOfOutline(a.points);
        if (outlined && outlined->clampedToImage) {
            for (QPointF &p : a.points)
                p = QPointF(qBound(0.0, p.x(), w), qBound(0.0, p.y(), h));
            outlined = shapeKindOfOutline(a.points);
        }
        if (!outlined)
            return false;
        a.kind = outlined->kind;
        outlined->takeOutline(a);
        if (n % 2 == 1 && numbers.last() > 0)
            a.confidence = numbers.last();
    }
    if (!a.hasFiniteGeometry())
        return false;
    out = a;
    return true;
}

// A pose file holds boxes with the dataset's keypoints only: an outline has no row there, and
// keypoints of another layout (or in a dataset that declares none) would be lost by any row.
bool keypointsFit(const QList<Annotation> &annotations, const KeypointLayout &pose, bool segmentation)
{
    if (pose.isPose() && segmentation)
        return false;
    return std::all_of(annotations.cbegin(), annotations.cend(), [&pose](const Annotation &a) {
        const Keypoints &k = a.keypoints;
        if (k.isEmpty() || classListEntry(a.label).isEmpty())
            return true;
        const qsizetype visibility = pose.dims == 3 ? pose.count : 0;
        return pose.isPose() && k.points.size() == pose.count && k.visibility.size() == visibility;
    });
}

} // namespace

ClassNames classNamesFor(const QString &imagePath, const QString &labelPath)
{
    ClassNames names = findClassNames(QFileInfo(labelPath).absolutePath());
    if (names.ok && names.names.isEmpty() && labelPath != yoloLabelPath(imagePath))
        names = findClassNames(labelsDirFor(imagePath));
    return names;
}

QList<Annotation> readYoloFile(const QString &imagePath, const QString &labelPath, QString *damaged,
                               ReadProblem *problem)
{
    if (damaged)
        damaged->clear();
    if (problem)
        *problem = ReadProblem();
    const auto fail = [damaged, problem](const QString &file, ReadProblem why) {
        if (damaged)
            *damaged = file;
        if (problem)
            *problem = why;
        return QList<Annotation>();
    };
    QByteArray bytes;
    if (readRegularFile(labelPath, &bytes) != FileRead::Ok) {
        const bool tooLarge = QFileInfo(labelPath).size() > kLabelFileLimit;
        return fail(labelPath, {tooLarge ? ReadProblem::TooLarge : ReadProblem::Unreadable, 0});
    }
    const QStringList lines = splitLines(QString::fromUtf8(bytes));

    const ClassNames names = classNamesFor(imagePath, labelPath);
    const QStringList &classes = names.names;
    const KeypointLayout pose = keypointLayoutFor(QFileInfo(labelPath).absolutePath());

    const auto hasContent = [&lines] {
        return std::any_of(lines.cbegin(), lines.cend(), [](const QString &l) { return !l.trimmed().isEmpty(); });
    };
    const QSize size = imageSize(imagePath);
    if (size.width() < 1 || size.height() < 1)
        return hasContent() ? fail(labelPath, {ReadProblem::NoImageSize, 0}) : QList<Annotation>();
    const double w = size.width();
    const double h = size.height();

    QList<Annotation> result;
    qint64 skipped = 0;   // the first line left out, from 1
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        Annotation a;
        if (parseLine(line, classes, w, h, pose, a))
            result.append(a);
        else if (!skipped && !line.trimmed().isEmpty())
            skipped = i + 1;
    }
    if (skipped)
        fail(labelPath, {ReadProblem::UnusableLine, skipped});
    else if (!names.ok)
        fail(names.file, {ReadProblem::ClassNames, 0});
    return result;
}

bool writeYoloFile(const QString &imagePath, const QList<Annotation> &annotations,
                   const QStringList &classNames, const QString &labelPath, NamesFileNotice *notice)
{
    if (notice)
        *notice = NamesFileNotice();
    const QString target = labelPath.isEmpty() ? yoloLabelPath(imagePath) : labelPath;
    const QFileInfo targetInfo(target);
    // An image called "classes" would write its labels over the class list of the folder.
    if (targetInfo.fileName().compare(QLatin1String("classes.txt"), Qt::CaseInsensitive) == 0)
        return false;
    const QString labelsDir = targetInfo.absolutePath();

    const QSize size = imageSize(imagePath);
    if (size.width() < 1 || size.height() < 1)
        return false;

    const ClassNames found = findClassNames(labelsDir);
    if (!found.ok)
        return false;   // writing a list over it would give every existing index a new name
    QStringList classes = found.names;
    // Another tool's names keep their indices; an empty list has none to keep.
    const bool theirs = found.source == NamesSource::OtherTool && !classes.isEmpty();
    if (classes.isEmpty()) {
        for (const QString &name : classNames) {
            if (!classListEntry(name).isEmpty())
                classes.append(classListEntry(name));
        }
    }
    const qsizetype known = classes.size();

    const bool segmentation = std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) {
        return storedShapeKind(a).hasOutline() && !classListEntry(a.label).isEmpty();
    });
    const KeypointLayout pose = keypointLayoutFor(labelsDir);
    if (!keypointsFit(annotations, pose, segmentation))
        return false;
    // Labels written as their own number; a new name must not take one of those numbers.
    const QSet<int> unnamed = unnamedNumbersIn(target, classes);
    QSet<int> kept;
    for (const Annotation &a : annotations) {
        const int number = unnamedClassNumber(classListEntry(a.label), classes);
        if (number >= 0 && unnamed.contains(number))
            kept.insert(number);
    }
    QByteArray content;
    for (const Annotation &a : annotations) {
        const QString name = classListEntry(a.label);
        if (name.isEmpty())
            continue;
        QStringList extended = classes;
        const QByteArray line =
            lineFor(a, classIndexFor(name, extended, kept, unnamed), size.width(), size.height(), segmentation, pose);
        if (line.isEmpty())
            continue;
        classes = extended;
        content += line;
    }
    const QStringList added = classes.mid(known);
    if (theirs && !added.isEmpty()) {
        // The dataset keeps one class list: a name goes into their file first (appendClassNames),
        // never into a second list beside it that their tools would not read.
        if (notice) {
            notice->namesFile = found.file;
            notice->missingNames = added;
        }
        return false;
    }

    const QString root = datasetRootOfImageFolder(QFileInfo(imagePath).absolutePath());
    if (!makeFolderInside(labelsDir, root))
        return false;
    PreparedFile file(target, root);
    if (!file.prepare(content) || (!theirs && !writeClassListIn(labelsDir, classListLines(classes), root))
        || !file.commit())
        return false;

    if (notice && !added.isEmpty()) {
        const ClassNames other = findOtherToolNames(labelsDir);
        if (!other.file.isEmpty()) {
            for (const QString &name : added) {
                if (!other.names.contains(name))
                    notice->missingNames.append(name);
            }
            if (!notice->missingNames.isEmpty()) {
                notice->namesFile = other.file;
                notice->classListFile = labelsDir + QStringLiteral("/classes.txt");
            }
        }
    }
    return true;
}

YoloRowKinds yoloRowKinds(const QString &labelPath)
{
    YoloRowKinds kinds;
    QByteArray bytes;
    if (readRegularFile(labelPath, &bytes) != FileRead::Ok)
        return kinds;
    const KeypointLayout pose = keypointLayoutFor(QFileInfo(labelPath).absolutePath());
    for (const QString &line : splitLines(QString::fromUtf8(bytes))) {
        const qsizetype fields = splitFields(line).size();
        kinds.boxes = kinds.boxes || fields == 5 || fields == 6;
        kinds.poses = kinds.poses || (pose.isPose() && fields == pose.rowValues());
        kinds.polygons = kinds.polygons || (fields > 6 && !pose.isPose());
    }
    return kinds;
}

int countYoloLines(const QString &labelPath)
{
    QByteArray bytes;
    if (readRegularFile(labelPath, &bytes) != FileRead::Ok)
        return -1;
    int count = 0;
    bool content = false;
    for (const char c : std::as_const(bytes)) {
        if (c == '\n' || c == '\r') {
            count += content;
            content = false;
        } else if (c != ' ' && c != '\t' && c != '\v' && c != '\f') {
            content = true;
        }
    }
    return count + content;
}
