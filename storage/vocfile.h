#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QString>

// Pascal VOC XML labels in absolute pixels, with an optional confidence and polygons.
// Reentrant; safe on worker threads.

// Objects of an XML file in document order; reading stops at the first XML error.
// complete (when given) is false when the file could not be read to its end: unreadable, an XML
// error, or an object whose numbers overflow.
QList<Annotation> readVocFile(const QString &xmlPath, bool *complete = nullptr);

// Writes the image's XML file atomically; does not touch other files.
bool writeVocFile(const QString &imagePath, const QList<Annotation> &annotations);

// Start tags named "object" anywhere in the file; -1 when it cannot be read.
int countVocObjects(const QString &xmlPath);
