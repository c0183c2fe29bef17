#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QString>

// Pascal VOC XML labels in absolute pixels, with an optional confidence and polygons.
// Reentrant; safe on worker threads.

// Objects of an XML file in document order; reading stops at the first XML error.
QList<Annotation> readVocFile(const QString &xmlPath);

// Writes the image's XML file atomically; does not touch other files.
bool writeVocFile(const QString &imagePath, const QList<Annotation> &annotations);

// Start tags named "object" anywhere in the file; -1 when it cannot be opened.
int countVocObjects(const QString &xmlPath);
