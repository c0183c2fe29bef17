#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QString>
#include <QStringList>

// An image's stored annotations, whichever format holds them. Reentrant; safe on worker threads.

// The VOC file when it exists (even if unreadable), else the newest YOLO file, else nothing.
QList<Annotation> loadAnnotations(const QString &imagePath);

// Writes YOLO (saveAsYolo) or VOC, then removes the image's files of the other format and any
// stale YOLO copy. A failed write leaves every existing file as it was and returns false.
// classNames start the class list when the labels directory has none.
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames);

// Stored objects of the image, or -1 when it has no annotation file. Never parses coordinates.
int countAnnotations(const QString &imagePath);
