#pragma once

#include "storage/annotation.h"
#include "storage/classnames.h"

#include <QList>
#include <QString>
#include <QStringList>

// An image's stored annotations, whichever format holds them. Reentrant; safe on worker threads.

// What reading an image's label file gave.
struct StoredAnnotations
{
    QList<Annotation> annotations;
    QString file;          // the label file read; empty when the image has none
    QString damagedFile;   // a file that could not be read to its end (label file or class list)

    // Only a complete reading may replace the file it came from.
    bool complete() const { return damagedFile.isEmpty(); }
};

// The VOC file as found (even if unreadable), else the first YOLO file found, else nothing
// (datasetlayout.h says where they are looked for).
StoredAnnotations readStoredAnnotations(const QString &imagePath);
QList<Annotation> loadAnnotations(const QString &imagePath);

// What a save did that its caller may have to tell the user.
struct SaveReport
{
    QString labelFile;            // the file written
    NamesFileNotice namesNotice;  // new categories another tool's names file lacks (YOLO only)
    // A file the save refused to write or remove: a link (at it or on its way) that leads out of
    // the dataset or nowhere. Empty when the save failed for another reason.
    QString refusedFile;
};

// Writes YOLO (saveAsYolo) or VOC into the file of that format found for the image (else into our
// layout), then removes the image's files of the other format, wherever they were found, and any
// stale YOLO copy. A save that cannot complete leaves every existing file as it was and returns
// false: a failed write, class names that exist but cannot be read (they are unknown), a file of
// the other format that could not be removed afterwards, or a file that lies, through a link,
// outside the dataset (the folder that holds the image and the file; see writeguard.h).
// classNames start the class list when the labels folder has no names at all.
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames);
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames, SaveReport *report);

// Stored objects of the image, or -1 when it has no annotation file. Never parses coordinates.
int countAnnotations(const QString &imagePath);
