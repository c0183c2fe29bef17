#include "storage/annotationjson.h"

#include "storage/shapekinds.h"

#include <QJsonArray>

QJsonObject annotationToJson(const Annotation &a)
{
    QJsonArray points;
    for (const QPointF &p : a.points)
        points.append(QJsonArray{p.x(), p.y()});
    return QJsonObject{
        {QStringLiteral("kind"), QString(shapeKindRules(a.kind).name)},
        {QStringLiteral("label"), a.label},
        {QStringLiteral("rect"), QJsonArray{a.rect.left(), a.rect.top(), a.rect.width(), a.rect.height()}},
        {QStringLiteral("points"), points},
        {QStringLiteral("confidence"), a.confidence},
        {QStringLiteral("difficult"), a.difficult},
        {QStringLiteral("pending"), a.pending},
    };
}
