#pragma once

#include "storage/annotation.h"
#include "storage/readproblem.h"

#include <QByteArray>
#include <QList>
#include <QString>

// DOTA text labels (labelTxt/NAME.txt beside images/NAME.png): optional "imagesource:" and
// "gsd:" header lines, then one object per line, "x1 y1 x2 y2 x3 y3 x4 y4 category difficult",
// corners in image pixels. Reentrant; safe on worker threads.

// The DOTA file of an image in an "images" folder: ../labelTxt/NAME.txt; empty for an image in any
// other folder (its labels cannot be told from another tool's text files).
QString dotaLabelPath(const QString &imagePath);
// The image's DOTA file when it exists.
QString findDotaFile(const QString &imagePath);
// A new label file of the image is DOTA: its folder is "images" with a "labelTxt" folder beside
// that holds label files.
bool inDotaFolder(const QString &imagePath);
bool isDotaImageFolder(const QString &dir);

// Objects of a DOTA file in file order. Four corners at right angles are a rotated box, any other
// four a polygon; corners are kept as written (order, first corner, even outside the image). A line
// that is neither a header nor an object is skipped and problem (when given) names the first.
QList<Annotation> readDotaBytes(const QByteArray &bytes, ReadProblem *problem = nullptr);
QList<Annotation> readDotaFile(const QString &path, ReadProblem *problem = nullptr);
// True when the file can be read and a rewrite keeps all it holds: lines that are no object it
// can read are written back as they are (writeDotaFile), so there is no original to set aside.
bool dotaRewriteKeepsAll(const QString &path);
// Object lines of a DOTA file; -1 when it cannot be read.
int countDotaObjects(const QString &path);

// Writes the objects into path atomically, inside insideRoot, keeping the line ends and the number
// style of the file it replaces and every line of it that is not an edited or deleted object: the
// header lines, blank lines and lines it cannot read stay where they were, an unedited object's
// line byte for byte. Fails, touching nothing, for what DOTA cannot hold as it is: keypoints, an
// outline of other than four points, a category that is empty or holds white space (it would read
// back as other fields).
bool writeDotaFile(const QString &path, const QList<Annotation> &annotations, const QString &insideRoot);
