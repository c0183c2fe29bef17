#include "inference/detectionparser.h"

#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPolygonF>
#include <QRegularExpression>

#include <cmath>

namespace {

const int kMaxRecords = 10000;   // "more than this" stops, so 10001 at most

// Far beyond any image, small enough that scaling cannot overflow; clipping to the image gives
// the same result as the exact value would.
const double kCoordinateLimit = 1e12;

double coordinate(const QJsonValue &value)
{
    const double v = value.toDouble();
    if (!std::isfinite(v))
        return 0.0;
    return qBound(-kCoordinateLimit, v, kCoordinateLimit);
}

QString firstNonEmptyString(const QJsonObject &object, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isString() && !v.toString().trimmed().isEmpty())
            return v.toString();
    }
    return QString();
}

double detectionScore(const QJsonObject &object)
{
    for (const char *key : {"score", "confidence"}) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isDouble()) {
            const double s = v.toDouble();
            return s < 0 ? 1.0 : s;
        }
    }
    return 1.0;
}

QList<QPointF> rawPoints(const QJsonArray &outline)
{
    QList<QPointF> points;
    if (outline.isEmpty())
        return points;
    if (outline.at(0).isArray()) {
        points.reserve(outline.size());
        for (const QJsonValue &element : outline) {
            const QJsonArray pair = element.toArray();
            if (pair.size() >= 2)
                points.append(QPointF(coordinate(pair.at(0)), coordinate(pair.at(1))));
        }
    } else {
        points.reserve(outline.size() / 2);
        for (qsizetype i = 0; i + 1 < outline.size(); i += 2)
            points.append(QPointF(coordinate(outline.at(i)), coordinate(outline.at(i + 1))));
    }
    return points;
}

// The category as the class it names: the same name, ignoring case and surrounding blanks, or
// that name with a plural "s"/"es". Never a part of a name: "hot dogs" is no "dog", "carrots"
// no "car". False when it names no class and the task keeps only known classes; otherwise an
// unknown category stays as the model wrote it.
bool mapCategory(QString &category, const QStringList &classes, bool restrictToClasses)
{
    const QString wanted = category.trimmed();
    const auto singular = [](const QString &word, const QString &name) {
        for (const QLatin1String plural : {QLatin1String("s"), QLatin1String("es")}) {
            if (word.size() == name.size() + plural.size() && word.endsWith(plural, Qt::CaseInsensitive)
                && word.startsWith(name, Qt::CaseInsensitive))
                return true;
        }
        return false;
    };
    for (const QString &c : classes) {
        if (c.trimmed().compare(wanted, Qt::CaseInsensitive) == 0) {
            category = c;
            return true;
        }
    }
    for (const QString &c : classes) {
        const QString name = c.trimmed();
        if (!name.isEmpty() && singular(wanted, name)) {
            category = c;
            return true;
        }
    }
    category = wanted;
    return !restrictToClasses;
}

bool parseArray(const QString &text, QJsonArray &array)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    array = doc.array();
    return true;
}

} // namespace

QString messageText(const QJsonValue &content)
{
    if (content.isString())
        return content.toString();
    if (!content.isArray())
        return QString();
    QStringList texts;
    for (const QJsonValue &part : content.toArray()) {
        const QJsonObject object = part.toObject();
        const QJsonValue type = object.value(QLatin1String("type"));
        if (type.isString() && type.toString() == QLatin1String("text"))
            texts.append(object.value(QLatin1String("text")).toString());
    }
    return texts.join(QLatin1Char('\n'));
}

QString stripCodeFences(const QString &text)
{
    const QLatin1String fence("```");
    QString s = text.trimmed();
    if (s.startsWith(fence)) {
        const qsizetype lineFeed = s.indexOf(QLatin1Char('\n'));
        if (lineFeed >= 0)
            s.remove(0, lineFeed + 1);
        const qsizetype closing = s.lastIndexOf(fence);
        if (closing >= 0)
            s.truncate(closing);
    }
    return s.trimmed();
}

QString bracketSpan(const QString &text)
{
    const qsizetype a = text.indexOf(QLatin1Char('['));
    const qsizetype b = text.lastIndexOf(QLatin1Char(']'));
    if (a < 0 || a >= b)
        return QString();
    return text.mid(a, b - a + 1);
}

QString repairJson(const QString &text)
{
    // Compiled once: the salvage pass calls this for every object of a long answer.
    static const QRegularExpression missingColon(
        QStringLiteral("(\"(?:bbox_2d|bbox)\"|\"label\"|\"score\")\\s*\\["),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression arrayComma(QStringLiteral(",\\s*\\]"));
    static const QRegularExpression objectComma(QStringLiteral(",\\s*\\}"));

    QString s = text;
    s.replace(missingColon, QStringLiteral("\\1:["));
    s.replace(arrayComma, QStringLiteral("]"));
    s.replace(objectComma, QStringLiteral("}"));
    return s;
}

QList<Annotation> parseDetections(const QString &text, QSize sourceSize, QSize sentSize, double minScore,
                                  const QStringList &classes, bool restrictToClasses, bool markPending,
                                  int *unusable)
{
    int blank = 0;
    if (unusable)
        *unusable = 0;
    QList<Annotation> out;
    const QString h = bracketSpan(stripCodeFences(text));
    if (h.isEmpty())
        return out;

    QJsonArray array;
    bool found = parseArray(h, array);
    if (!found) {
        const qsizetype at = h.indexOf(QLatin1String("detections"));
        if (at >= 0) {
            const QString inner = bracketSpan(h.mid(at));
            found = !inner.isEmpty() && parseArray(inner, array);
        }
    }
    if (!found)
        found = parseArray(repairJson(h), array);

    if (found) {
        for (const QJsonValue &element : std::as_const(array)) {
            if (out.size() > kMaxRecords)
                break;   // parseDetection would add nothing more
            parseDetection(element.toObject(), sourceSize, sentSize, minScore, classes, restrictToClasses,
                           markPending, out, &blank);
        }
        if (!out.isEmpty()) {
            if (unusable)
                *unusable = blank;
            return out;
        }
    }
    // The salvage reads the same objects again: only its count stands.
    blank = 0;

    // Salvage: read the flat objects of a broken answer one by one.
    static const QRegularExpression flatObject(QStringLiteral("\\{[^{}]*\\}"));
    QRegularExpressionMatchIterator it = flatObject.globalMatch(h);
    while (it.hasNext() && out.size() <= kMaxRecords) {
        // A brace group stays one through the repair, so it parses as it stands.
        const QString object = repairJson(it.next().captured(0));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(object.toUtf8(), &error);
        if (error.error == QJsonParseError::NoError && doc.isObject())
            parseDetection(doc.object(), sourceSize, sentSize, minScore, classes, restrictToClasses,
                           markPending, out, &blank);
    }
    if (unusable)
        *unusable = blank;
    return out;
}

void parseDetection(const QJsonObject &object, QSize sourceSize, QSize sentSize, double minScore,
                    const QStringList &classes, bool restrictToClasses, bool markPending,
                    QList<Annotation> &out, int *unusable)
{
    QString category = firstNonEmptyString(object, {"label", "class", "name"});
    // A detection without a category is unusable: no class may be guessed for it.
    if (category.trimmed().isEmpty()) {
        if (unusable)
            ++*unusable;
        return;
    }

    QJsonArray box = object.value(QLatin1String("bbox_2d")).toArray();
    if (box.size() != 4)
        box = object.value(QLatin1String("bbox")).toArray();
    if (box.size() != 4)
        return;
    const double x1 = coordinate(box.at(0));
    const double y1 = coordinate(box.at(1));
    const double x2 = coordinate(box.at(2));
    const double y2 = coordinate(box.at(3));

    if (out.size() > kMaxRecords)
        return;

    const double score = detectionScore(object);

    // The first kind whose key holds an outline; a box when none does.
    const ShapeKindRules *outlined = nullptr;
    QJsonArray outline;
    for (const ShapeKindRules &rules : shapeKinds()) {
        for (const QLatin1String key : rules.modelKeys) {
            if (outlined || key.isEmpty())
                continue;
            outline = object.value(key).toArray();
            if (!outline.isEmpty())
                outlined = &rules;
        }
    }
    QList<QPointF> points = rawPoints(outline);

    double m = std::max({x1, y1, x2, y2});
    for (const QPointF &p : std::as_const(points))
        m = std::max({m, p.x(), p.y()});

    const double W = sourceSize.width();
    const double H = sourceSize.height();
    double fx;
    double fy;
    if (m > 1000) {
        // Pixels of the image as it was sent.
        fx = sentSize.width() < 1 ? 1.0 : W / sentSize.width();
        fy = sentSize.height() < 1 ? 1.0 : H / sentSize.height();
    } else {
        fx = W / 1000.0;
        fy = H / 1000.0;
    }
    for (QPointF &p : points)
        p = QPointF(p.x() * fx, p.y() * fy);

    const QRectF image(0, 0, W, H);
    QRectF rect = QRectF(QPointF(x1 * fx, y1 * fy), QPointF(x2 * fx, y2 * fy)).normalized() & image;
    const bool polygon = outlined && points.size() >= outlined->minPoints;
    if (polygon)
        rect = rect | (QPolygonF(points).boundingRect() & image);

    if (!(rect.width() >= 2) || !(rect.height() >= 2))
        return;
    if (score < minScore)
        return;
    if (!mapCategory(category, classes, restrictToClasses))
        return;

    Annotation a;
    a.rect = rect;
    if (polygon && outlined->angle) {
        // A model's corners are near a rectangle at best; the first two and the third make one.
        points = RotatedFrame::fromCorners(points.mid(0, 4)).corners();
    } else if (!polygon && rect.isValid()) {
        // Oriented detectors that answer a box and its turn (degrees, clockwise on screen).
        const QJsonValue turn = object.value(QLatin1String("angle"));
        if (turn.isDouble() && std::isfinite(turn.toDouble()) && wrappedDegrees(turn.toDouble()) != 0.0) {
            for (const ShapeKindRules &rules : shapeKinds()) {
                if (rules.angle && !outlined)
                    outlined = &rules;
            }
            RotatedFrame frame;
            frame.centre = rect.center();
            frame.width = rect.width();
            frame.height = rect.height();
            frame.angle = turn.toDouble();
            points = frame.corners();
        }
    }
    if (outlined && points.size() >= outlined->minPoints) {
        for (QPointF &p : points) {
            if (outlined->clampedToImage)
                p = QPointF(qBound(0.0, p.x(), W), qBound(0.0, p.y(), H));
        }
        const QRectF bounds = QPolygonF(points).boundingRect();
        // An outline squashed flat against an image edge is no shape; the box still is.
        if (bounds.width() >= 2 && bounds.height() >= 2) {
            a.kind = outlined->kind;
            a.points = points;
            a.rect = bounds;
        }
    }
    a.label = category;
    a.confidence = score;
    a.pending = markPending ? 1 : 0;
    a.difficult = false;
    out.append(a);
}
