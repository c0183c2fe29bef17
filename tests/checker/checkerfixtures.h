#pragma once

#include "checker/labelissue.h"
#include "storage/storagefixtures.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Label files written by hand, so the checker tests control every coordinate.
namespace Fixtures {

struct VocBox
{
    QString label;
    double x1, y1, x2, y2;
};

inline QByteArray vocXml(const QList<VocBox> &boxes)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<annotation>\n";
    for (const VocBox &b : boxes) {
        xml += "  <object><name>" + b.label.toUtf8() + "</name><bndbox>"
            + "<xmin>" + QByteArray::number(b.x1) + "</xmin><ymin>" + QByteArray::number(b.y1) + "</ymin>"
            + "<xmax>" + QByteArray::number(b.x2) + "</xmax><ymax>" + QByteArray::number(b.y2) + "</ymax>"
            + "</bndbox></object>\n";
    }
    return xml + "</annotation>\n";
}

// "path|kind|problem|detail" of each finding, worded in the current language.
inline QStringList words(const QList<LabelIssue> &issues)
{
    QStringList out;
    for (const LabelIssue &issue : issues)
        out << QStringList{issue.path, issue.kindName(), issue.problem(), issue.detail()}.join(QLatin1Char('|'));
    return out;
}

} // namespace Fixtures
