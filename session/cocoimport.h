#pragma once

#include "storage/annotationstore.h"
#include "storage/cocoimport.h"

#include <QString>
#include <QStringList>

// Taking a COCO file's shapes into the label files of a folder of its images: the command line's
// import and the window's File → Import COCO. Plain function on paths; owner's thread.

struct CocoImportOptions
{
    // An image that already has a label file gets the file's shapes it lacks (repeats dropped as
    // when copying the previous image's shapes); without it such an image is left as it is.
    bool merge = false;
    // The format of new label files when none of the folder's images has one yet.
    LabelFormat newFileFormat = LabelFormat::Voc;
};

struct CocoImportSummary
{
    QStringList written;     // images whose label files were written, new or merged
    int annotations = 0;     // shapes written into them
    int duplicates = 0;      // shapes an image already had (merge)
    int rleRefused = 0;      // run-length encoded masks: no outline to take
    int unusable = 0;        // annotations without a known category or a box with an area
    QStringList labelled;    // images left as they were: they have labels and there was no merge
    QStringList missing;     // "file_name"s of the file without an image in the folder
    QStringList unlisted;    // images of the folder the file does not name
    QStringList failed;      // images whose labels could not be read completely or written
};

// Why a COCO file cannot be imported, in the interface language.
QString describeCocoFailure(const CocoDocument &document);

// images: the folder's images (absolute paths under dir). A file name matches the image at that
// path under dir, else the one image of that name.
CocoImportSummary importCocoInto(const CocoDocument &document, const QString &dir, const QStringList &images,
                                 const CocoImportOptions &options);
