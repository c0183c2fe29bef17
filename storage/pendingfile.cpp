#include "storage/pendingfile.h"

#include "storage/atomicfile.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject recordToJson(const Annotation &a)
{
    QJsonObject record{
        {QStringLiteral("c"), a.confidence},
        {QStringLiteral("d"), a.difficult ? 1 : 0},
        {QStringLiteral("l"), a.label},
        {QStringLiteral("t"), a.kind == Annotation::Polygon ? QStringLiteral("p") : QStringLiteral("r")},
    };
    if (a.kind == Annotation::Polygon) {
        QJsonArray flat;
        for (const QPointF &p : a.points) {
            flat.append(p.x());
            flat.append(p.y());
        }
        record.insert(QStringLiteral("p"), flat);
    } else {
        const QRectF &r = a.rect;
        record.insert(QStringLiteral("b"), QJsonArray{r.left(), r.top(), r.right(), r.bottom()});
    }
    return record;
}

Annotation recordFromJson(const QJsonObject &record)
{
    Annotation a;
    a.pending = 1;
    a.kind = record.value(QStringLiteral("t")).toString() == u"p" ? Annotation::Polygon : Annotation::Rect;
    a.label = record.value(QStringLiteral("l")).toString();
    const QJsonValue confidence = record.value(QStringLiteral("c"));
    a.confidence = confidence.isDouble() ? confidence.toDouble() : -1.0;
    const QJsonValue difficult = record.value(QStringLiteral("d"));
    a.difficult = difficult.isDouble() && difficult.toDouble() == 1.0;

    if (a.kind == Annotation::Polygon) {
        const QJsonArray flat = record.value(QStringLiteral("p")).toArray();
        for (qsizetype i = 0; i + 1 < flat.size(); i += 2)
            a.points.append(QPointF(flat.at(i).toDouble(), flat.at(i + 1).toDouble()));
        if (a.points.size() < 3)
            a.kind = Annotation::Rect;
    }
    if (a.kind == Annotation::Rect) {
        const QJsonValue box = record.value(QStringLiteral("b"));
        const QJsonArray b = box.toArray();
        if (box.isArray() && b.size() == 4)
            a.rect = QRectF(QPointF(b.at(0).toDouble(), b.at(1).toDouble()),
                            QPointF(b.at(2).toDouble(), b.at(3).toDouble()));
    }
    return a;
}

} // namespace

QString pendingFilePath(const QString &imageDir)
{
    return imageDir + QStringLiteral("/.brindle_pending.json");
}

bool writePendingFile(const QString &imageDir, const AnnotationCache &cache)
{
    QJsonObject pending;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        QJsonArray records;
        for (const Annotation &a : it.value()) {
            if (a.pending == 1 && a.hasFiniteGeometry())
                records.append(recordToJson(a));
        }
        if (!records.isEmpty())
            pending.insert(it.key(), records);
    }
    const QJsonObject root{{QStringLiteral("pending"), pending}, {QStringLiteral("version"), 1}};
    return writeFileAtomically(pendingFilePath(imageDir), QJsonDocument(root).toJson(QJsonDocument::Compact),
                               datasetRootOfImageFolder(imageDir));
}

AnnotationCache readPendingFile(const QString &imageDir, bool *readable)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(pendingFilePath(imageDir), &bytes, kPendingFileLimit);
    if (readable)
        *readable = read != FileRead::Unreadable;
    if (read != FileRead::Ok)
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return {};

    AnnotationCache result;
    const QJsonObject pending = doc.object().value(QStringLiteral("pending")).toObject();
    for (auto it = pending.constBegin(); it != pending.constEnd(); ++it) {
        QList<Annotation> records;
        for (const QJsonValue &value : it.value().toArray()) {
            const Annotation a = recordFromJson(value.toObject());
            if (a.hasFiniteGeometry())
                records.append(a);
        }
        if (!records.isEmpty())
            result.insert(it.key(), records);
    }
    return result;
}
