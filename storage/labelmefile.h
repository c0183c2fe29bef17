#pragma once

#include "storage/annotation.h"
#include "storage/readproblem.h"

#include <QByteArray>
#include <QList>
#include <QString>

// labelme / X-AnyLabeling JSON: one "NAME.json" beside each image, points in image pixels.
// Rectangles (two corners, or four as X-AnyLabeling writes them) and polygons are edited; every
// other shape ("circle", "line", "point", "linestrip", "mask", "rotation", ...) and every key we
// do not edit is written back as it was read. Reentrant; safe on worker threads.

struct LabelmeShapes
{
    QList<Annotation> annotations;  // the editable shapes, in file order
    int kept = 0;                   // shapes kept as they are: not editable here
};

// A file that says it is labelme's: "shapes" appears in it. A damaged one still says so, and is
// then named as damaged rather than passed over for a new file beside it. content (when given)
// receives the whole file when it could be read.
bool isLabelmeFile(const QString &jsonPath, QByteArray *content = nullptr, bool *haveContent = nullptr);

// problem (when given) tells why the file could not be read to its end: unreadable, too large, or
// a JSON error (also for a file that is no object with a "shapes" array).
LabelmeShapes readLabelmeBytes(const QByteArray &bytes, ReadProblem *problem = nullptr);
LabelmeShapes readLabelmeFile(const QString &jsonPath, ReadProblem *problem = nullptr);

// Writes the image's shapes into jsonPath atomically, inside root. An existing file keeps its
// other keys ("imageData", "flags", "version", unknown ones) and its kept shapes in their places;
// it must read completely, else nothing is written. A new file gets labelme's own keys.
// Rectangles are written with four corners when the file already held such, else two.
bool writeLabelmeFile(const QString &imagePath, const QList<Annotation> &annotations, const QString &jsonPath,
                      const QString &root);

// Editable shapes of a file; -1 when it cannot be read.
int countLabelmeShapes(const QByteArray &bytes);
