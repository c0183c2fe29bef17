#pragma once

#include "storage/annotation.h"
#include "storage/readproblem.h"

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>

// labelme / X-AnyLabeling JSON: one "NAME.json" beside each image, points in image pixels.
// Rectangles (two corners, or four as X-AnyLabeling writes them) and polygons are edited; every
// other shape ("circle", "line", "point", "linestrip", "mask", "rotation", ...) and every key we
// do not edit is written back as it was read. Reentrant; safe on worker threads.

// A shape of the file kept as it is: shown as read, never edited, moved or deleted here.
struct KeptShape
{
    QString type;            // labelme's "shape_type": "circle", "line", "point", "mask", ...
    QString label;
    QList<QPointF> points;   // as read; empty when they are not a list of [x, y]
};

struct LabelmeShapes
{
    QList<Annotation> annotations;  // the editable shapes, in file order
    int kept = 0;                   // shapes kept as they are: not editable here
    QList<KeptShape> keptShapes;    // those shapes, in file order
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

// The category list labelme is given beside a folder (its --labels file, else its --flags file):
// "labels.txt", else "flags.txt", in the image folder, else in the folder above it. labelme's
// "__ignore__" and "_background_" lines name no category. Only ever read. file (when given)
// receives the file read; empty when there is none.
QStringList labelmeLabelList(const QString &imageDir, QString *file = nullptr);

// Editable shapes of a file; -1 when it cannot be read.
int countLabelmeShapes(const QByteArray &bytes);
