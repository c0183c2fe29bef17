#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// A COCO "instances" document of a folder's images and their stored (confirmed) shapes, the file
// most training pipelines other than YOLO's start from. Reentrant.
struct CocoExport
{
    QJsonObject document;   // "info", "licenses", "images", "categories", "annotations"
    QStringList problems;   // one message per image left out: it or its labels cannot be read
    int imageCount = 0;
    int annotationCount = 0;
    int categoryCount = 0;
};

// images: paths inside dir, in the order the document lists them (ids from 1). Categories take
// ids from 1: first the class lists of the label folders in use, then names found only in files.
CocoExport exportCoco(const QString &dir, const QStringList &images);
