#pragma once

#include "storage/annotation.h"
#include "storage/readproblem.h"

#include <QList>
#include <QString>

// Pascal VOC XML labels in absolute pixels, with an optional confidence and polygons.
// Reentrant; safe on worker threads.

// Objects of an XML file in document order; reading stops at the first XML error. Corners given
// the wrong way round are normalised. problem (when given) tells why the file could not be read to
// its end: unreadable, too large, an XML error (entities that expand past the reader's limit too),
// an external entity (whose text the reader leaves out), or an object that cannot be used (no
// name, a box without width or height or without all four edges, a polygon of fewer than three
// points, a coordinate that is not a number); such objects are left out.
QList<Annotation> readVocFile(const QString &xmlPath, ReadProblem *problem = nullptr);
// The same for the bytes of a file already read.
QList<Annotation> readVocBytes(const QByteArray &bytes, ReadProblem *problem = nullptr);

// Writes the image's XML file atomically, to xmlPath or, when that is empty, to our layout's place;
// does not touch other files.
bool writeVocFile(const QString &imagePath, const QList<Annotation> &annotations,
                  const QString &xmlPath = QString());

// A readable XML file whose root element is <annotation>. Any other XML file beside an image
// belongs to somebody else and is neither read as labels nor overwritten. When the check read the
// whole file (most VOC files are small), content (when given) receives it and whole is set.
bool isVocAnnotationFile(const QString &xmlPath, QByteArray *content = nullptr, bool *whole = nullptr);

// Start tags named "object" anywhere in the file; -1 when it cannot be read.
int countVocObjects(const QString &xmlPath);
int countVocObjectsIn(const QByteArray &bytes);
