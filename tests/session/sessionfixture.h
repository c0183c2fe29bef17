#pragma once

// The folder the session tests open: four 200x100 images, and VOC files written as another
// program writes them.

#include "storage/storagefixtures.h"

#include <QStringList>

namespace SessionFixture {

// img1.png … img4.png in dir; empty when one could not be made.
inline QStringList makeImages(const QString &dir)
{
    QStringList images;
    for (int i = 1; i <= 4; ++i) {
        images << QStringLiteral("%1/img%2.png").arg(dir).arg(i);
        if (!Fixtures::makeImage(images.last(), 200, 100))
            return {};
    }
    return images;
}

// One object per label, each at the same box.
inline QByteArray voc(const QStringList &labels)
{
    QByteArray xml = "<annotation>";
    for (const QString &label : labels) {
        xml += "<object><name>" + label.toUtf8()
            + "</name><bndbox><xmin>10</xmin><ymin>10</ymin><xmax>30</xmax><ymax>40</ymax></bndbox></object>";
    }
    return xml + "</annotation>";
}

} // namespace SessionFixture
