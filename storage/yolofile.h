#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QString>
#include <QStringList>

// YOLO text labels: one line per object, coordinates normalised to the oriented image size,
// class numbers indexing "classes.txt". Reentrant; safe on worker threads.

// Reads the given label file of the image; empty when unreadable or the image has no size.
// damaged (when given) receives the file that could not be read to its end: the label file when
// it is unreadable or a line of it had to be skipped, the class list when that exists but cannot
// be read; empty when everything was read.
QList<Annotation> readYoloFile(const QString &imagePath, const QString &labelPath, QString *damaged = nullptr);

// Writes the image's label file and its class list (atomically, in that order of commit:
// the class list first, so a committed label file never names a class the list lacks).
// classNames start the list when the labels directory has none. Fails, touching nothing, when
// the labels directory has a class list that cannot be read. Does not touch other files.
bool writeYoloFile(const QString &imagePath, const QList<Annotation> &annotations,
                   const QStringList &classNames);

// Lines of a label file that are non-empty after trimming; -1 when it cannot be read.
int countYoloLines(const QString &labelPath);
