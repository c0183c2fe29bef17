#pragma once

#include "storage/annotation.h"
#include "storage/classnames.h"
#include "storage/readproblem.h"

#include <QList>
#include <QString>
#include <QStringList>

// YOLO text labels: one line per object, coordinates normalised to the oriented image size,
// class numbers indexing the class names of the labels folder (see classnames.h). Reentrant; safe
// on worker threads.

// Reads the given label file of the image; empty when unreadable or the image has no size.
// damaged (when given) receives the file that could not be read to its end: the label file when
// it is unreadable or a line of it had to be skipped, the class list when that exists but cannot
// be read; empty when everything was read. problem (when given) tells why. A line is skipped
// when it is no label line: fewer than five fields, a class that is not a non-negative integer,
// a coordinate that is not a number, or a class number that no name gives while another class
// has that number for its name (it could not be told from that class once read). In a pose
// dataset (keypoints.h) a row longer than a box's must be a box with the dataset's keypoints.
QList<Annotation> readYoloFile(const QString &imagePath, const QString &labelPath, QString *damaged = nullptr,
                               ReadProblem *problem = nullptr);

// The class names that give the numbers of the image's label file their meaning: those of the
// file's folder, or of our labels folder when the file's folder names none.
ClassNames classNamesFor(const QString &imagePath, const QString &labelPath);

// Writes the image's label file (labelPath, or our layout's place when empty) and the class list
// of its folder, atomically, the class list committed first so that a committed label file never
// names a class the list lacks. classNames start the list when the folder has no names at all.
// Names from another tool's file keep their indices and that file is never written here: a
// category it lacks fails the save, notice (when given) naming the file and the missing names
// (classListFile empty), so that the caller can add them there first. With our own classes.txt,
// notice tells which new categories another tool's file beside it lacks. Fails, touching nothing, when the names cannot be read, when
// the image has no size, or when the label file would be a class list ("classes.txt").
// In a pose dataset every box is written with the dataset's keypoints (its own, else unlabelled
// ones); the write fails, touching nothing, for an outline there, or for keypoints that do not
// fit the dataset's layout (they would be lost).
// A digits-only label that the list lacks is written as that number when the number names no
// class (a class past the list read back); when it names another class, the label is a new name.
bool writeYoloFile(const QString &imagePath, const QList<Annotation> &annotations,
                   const QStringList &classNames, const QString &labelPath = QString(),
                   NamesFileNotice *notice = nullptr);

// The kinds of rows a label file holds: box rows (5 or 6 values), polygon rows (more) and, in a
// pose dataset (keypoints.h), box rows with keypoints instead of polygons. Boxes and polygons in
// one file is what we wrote before boxes in such files became corner polygons: training tools read
// all its rows as polygons, a box as two points; saving the image again writes it right. Nothing
// when the file cannot be read.
struct YoloRowKinds
{
    bool boxes = false;
    bool polygons = false;
    bool poses = false;
};
YoloRowKinds yoloRowKinds(const QString &labelPath);

// Lines of a label file that are non-empty after trimming; -1 when it cannot be read.
int countYoloLines(const QString &labelPath);
