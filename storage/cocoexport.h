#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// A COCO "instances" document of a folder's images and their stored (confirmed) shapes, the file
// most training pipelines other than YOLO's start from. Reentrant.
struct CocoExport
{
    QJsonObject document;   // "info", "licenses", "images", "categories", "annotations"
    // An image left out because it (damagedFile empty) or its label file cannot be read; the
    // callers word it in their own language.
    struct LeftOut
    {
        QString image;
        QString damagedFile;
    };
    QList<LeftOut> leftOut;
    QStringList unlabelled; // images without a label file, left out unless asked for
    int imageCount = 0;
    int annotationCount = 0;
    int categoryCount = 0;
};

// images: paths inside dir, in the order the document lists them (ids from 1). Categories take
// ids from 1: first the class lists of the label folders in use, then names found only in files.
// An image without a label file has never been looked at: it is no background (that is an empty
// label file) and goes into the document only with includeUnlabelled.
CocoExport exportCoco(const QString &dir, const QStringList &images, bool includeUnlabelled = false);
