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
    if (rules.angle)
        object.insert(QStringLiteral("angle"), rules.angle(a));
    return object;
}
