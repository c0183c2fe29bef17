#include "storage/annotationjson.h"

#include "storage/shapekinds.h"

#include <QJsonArray>

QJsonObject annotationToJson(const Annotation &a)
{
    QJsonArray points;
    for (const QPointF &p : a.points)
        points.append(QJsonArray{p.x(), p.y()});
    const ShapeKindRules &rules = shapeKindRules(a.kind);
    QJsonObject object{
        {QStringLiteral("kind"), QString(rules.name)},
        {QStringLiteral("label"), a.label},
        {QStringLiteral("rect"), QJsonArray{a.rect.left(), a.rect.top(), a.rect.width(), a.rect.height()}},
        {QStringLiteral("points"), points},
        {QStringLiteral("confidence"), a.confidence},
        {QStringLiteral("difficult"), a.difficult},
        {QStringLiteral("pending"), a.pending},
    };
    // Only a pose dataset's boxes have the field: every other line stays as it was.
    if (!a.keypoints.isEmpty()) {
        QJsonArray keypoints;
        for (qsizetype i = 0; i < a.keypoints.points.size(); ++i) {
            const QPointF &p = a.keypoints.points.at(i);
            QJsonArray point{p.x(), p.y()};
            if (!a.keypoints.visibility.isEmpty())
                point.append(a.keypoints.visibility.at(i));
            keypoints.append(point);
        }
        object.insert(QStringLiteral("keypoints"), keypoints);
    }
    if (rules.angle)
        object.insert(QStringLiteral("angle"), rules.angle(a));
    return object;
}
