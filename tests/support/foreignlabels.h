#pragma once

// Label files as other tools leave them, written by hand: shapes past the image's edges too,
// which our own saves never write (they clip them or leave them out).

#include "storage/annotation.h"
#include "storage/datasetlayout.h"
#include "storage/shapekinds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPolygonF>

namespace ForeignLabels {

// The image's VOC file (vocXmlPath) holding the shapes as given: a rotated box as its <robndbox>,
// another outline as <polygon> points, each with its bounds, a box as its <bndbox>.
inline bool writeVoc(const QString &imagePath, const QList<Annotation> &shapes)
{
    const auto n = [](double v) { return QByteArray::number(v, 'g', 12); };
    QByteArray xml = "<annotation>";
    for (const Annotation &a : shapes) {
        xml += "<object><name>" + a.label.toHtmlEscaped().toUtf8() + "</name><difficult>"
            + (a.difficult ? "1" : "0") + "</difficult>";
        QRectF bounds = a.rect.normalized();
        const ShapeKindRules &rules = shapeKindRules(a.kind);
        if (rules.vocChildren) {
            xml += "<" + QByteArray(rules.vocElement.data(), rules.vocElement.size()) + ">";
            for (const auto &[name, text] : rules.vocChildren(a))
                xml += "<" + name.toUtf8() + ">" + text.toUtf8() + "</" + name.toUtf8() + ">";
            xml += "</" + QByteArray(rules.vocElement.data(), rules.vocElement.size()) + ">";
            bounds = QPolygonF(a.points).boundingRect();
        } else if (!a.points.isEmpty()) {
            QByteArrayList pairs;
            for (const QPointF &p : a.points)
                pairs.append(n(p.x()) + ',' + n(p.y()));
            xml += "<polygon><points>" + pairs.join(' ') + "</points></polygon>";
            bounds = QPolygonF(a.points).boundingRect();
        }
        xml += "<bndbox><xmin>" + n(bounds.left()) + "</xmin><ymin>" + n(bounds.top()) + "</ymin><xmax>"
            + n(bounds.right()) + "</xmax><ymax>" + n(bounds.bottom()) + "</ymax></bndbox></object>";
    }
    const QString path = vocXmlPath(imagePath);
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
        && file.write(xml + "</annotation>\n") > 0;
}

} // namespace ForeignLabels
