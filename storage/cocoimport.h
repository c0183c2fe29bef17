#pragma once

#include "storage/annotation.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Reading a COCO "instances" file (one file of many images' shapes) for an import into a folder
// of those images. Reentrant.

struct CocoImage
{
    QString fileName;               // "file_name" as the file gives it (may hold folders)
    QList<Annotation> annotations;  // in file order
    int rleRefused = 0;             // annotations whose mask is run-length encoded: not imported
    int unusable = 0;               // no category we know, no box with an area, no numbers
};

struct CocoDocument
{
    QStringList categories;   // names in the order of the file's "categories"
    QList<CocoImage> images;  // in the order of the file's "images"
    // Why the file cannot be used at all, worded by the caller (describeCocoFailure in
    // session/cocoimport.h).
    enum class Failure { None, Unreadable, NotJson, NotInstances };
    Failure failure = Failure::None;
    QString failedPath;       // Unreadable: the file
    QString parserMessage;    // NotJson: what the parser said, at parserOffset
    qint64 parserOffset = 0;
    bool failed() const { return failure != Failure::None; }
};

// "bbox" gives a box; a polygon "segmentation" a polygon per part, except the box's own four
// corners (what COCO writers give boxes); "iscrowd" 1 marks the shape difficult.
CocoDocument readCocoFile(const QString &path);
CocoDocument readCocoBytes(const QByteArray &bytes);
