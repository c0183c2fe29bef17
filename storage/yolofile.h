#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QString>
#include <QStringList>

// YOLO text labels: one line per object, coordinates normalised to the oriented image size,
// class numbers indexing "classes.txt". Reentrant; safe on worker threads.

// Reads the given label file of the image; empty when unreadable or the image has no size.
QList<Annotation> readYoloFile(const QString &imagePath, const QString &labelPath);

// Writes the image's label file and its class list (atomically, in that order of commit:
// the class list first, so a committed label file never names a class the list lacks).
// classNames start the list when the labels directory has none. Does not touch other files.
bool writeYoloFile(const QString &imagePath, const QList<Annotation> &annotations,
                   const QStringList &classNames);

// Lines of a label file that are non-empty after trimming; -1 when it cannot be opened.
int countYoloLines(const QString &labelPath);
