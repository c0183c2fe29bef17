#pragma once

#include "storage/annotation.h"

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

// The VOC file when it exists (even if unreadable), else the newest YOLO file, else nothing.
StoredAnnotations readStoredAnnotations(const QString &imagePath);
QList<Annotation> loadAnnotations(const QString &imagePath);

// Writes YOLO (saveAsYolo) or VOC, then removes the image's files of the other format and any
// stale YOLO copy. A save that cannot complete leaves every existing file as it was and returns
// false: a failed write, a class list that exists but cannot be read (its names are unknown),
// or a file of the other format that could not be removed afterwards.
// classNames start the class list when the labels directory has none.
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames);

// Stored objects of the image, or -1 when it has no annotation file. Never parses coordinates.
int countAnnotations(const QString &imagePath);
