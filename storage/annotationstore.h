#pragma once

#include "storage/annotation.h"
#include "storage/classnames.h"
#include "storage/labelmefile.h"
#include "storage/readproblem.h"

#include <QList>
#include <QString>
#include <QStringList>

// An image's stored annotations, whichever format holds them. Reentrant; safe on worker threads.

// What reading an image's label file gave.
struct StoredAnnotations
{
    QList<Annotation> annotations;
    QString file;          // the label file read; empty when the image has none
    QString damagedFile;   // a file that could not be read to its end (label file or class list)
    ReadProblem problem;   // why damagedFile could not be read; None when the reading is complete
    int kept = 0;          // shapes of a labelme file that are not editable here, kept as they are
    QList<KeptShape> keptShapes;   // those shapes, to be shown as they are

    // Only a complete reading may replace the file it came from.
    bool complete() const { return damagedFile.isEmpty(); }
};

// The VOC file as found (even if unreadable), else the first YOLO file found, else the labelme
// JSON beside the image, else nothing (datasetlayout.h says where they are looked for).
StoredAnnotations readStoredAnnotations(const QString &imagePath);
QList<Annotation> loadAnnotations(const QString &imagePath);

enum class LabelFormat { None, Voc, Yolo, Labelme, Dota };
Q_DECLARE_METATYPE(LabelFormat)

// "voc", "yolo", "labelme", "dota" (as the command line names them); empty for None.
QString labelFormatName(LabelFormat format);
// The format of such a name; None for any other text.
LabelFormat labelFormatNamed(const QString &name);

// The format of the image's label file as found (the file loadAnnotations reads).
LabelFormat labelFormatOf(const QString &imagePath);
// The format of the label files a folder's images already have: that of the first image, in the
// given order, that has one; None when none has.
LabelFormat firstLabelFormat(const QStringList &imagePaths);

// What a save did that its caller may have to tell the user.
struct SaveReport
{
    QString labelFile;            // the file written
    NamesFileNotice namesNotice;  // new categories another tool's names file lacks (YOLO only)
    // A file the save refused to write or remove: a link (at it or on its way) that leads out of
    // the dataset or nowhere. Empty when the save failed for another reason.
    QString refusedFile;
    // A class-names file (classes.txt, obj.names, data.yaml, ...) that exists but cannot be read:
    // the save refused, as labels written with unknown names would give indices another meaning.
    QString unreadableNamesFile;
    // Shapes left out because no part of them lies inside the image (shapes partly outside are
    // written clipped to it): no reader can use a box beside the picture.
    int outsideImage = 0;
    // Another program rewrote the image's label file since it was read: nothing was written, as
    // the edit would have destroyed that program's labels.
    bool changedElsewhere = false;
    // The dataset file (data.yaml) whose `kpt_shape` makes every row a box with keypoints: the
    // save was refused for a polygon or rotated box, which no row there can hold.
    QString keypointRowsFile;
};

// Every save writes each shape clipped to the image and leaves out those wholly outside it
// (SaveReport::outsideImage counts them).
// A conversion (an edit is saveEdit below). Writes the format into the file of that format found
// for the image (else into our layout; labelme's beside the image; DOTA's in the "labelTxt" folder
// beside an "images" folder, and for an image elsewhere it fails, see dotafile.h), then removes the image's files
// of the other formats, wherever they were found, and any
// stale YOLO copy. A save that cannot complete leaves every existing file as it was and returns
// false: a failed write, class names that exist but cannot be read (they are unknown), a file of
// the other format that could not be removed afterwards, or a file that lies, through a link,
// outside the dataset (the folder that holds the image and the file; see writeguard.h).
// classNames start the class list when the labels folder has no names at all.
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, LabelFormat format,
                     const QStringList &classNames, SaveReport *report);
// YOLO (saveAsYolo) or VOC.
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames);
bool saveAnnotations(const QString &imagePath, const QList<Annotation> &annotations, bool saveAsYolo,
                     const QStringList &classNames, SaveReport *report);

// Where an edit of an image is written: its label file's format and place (our YOLO file
// replaces an older copy of ours), else a new DOTA file in a DOTA folder (an "images" folder with
// a "labelTxt" folder of files beside it), else a new file in newFileYolo's format in our layout. Taken
// before anything is moved aside, so that a damaged file is replaced where it was.
struct SaveTarget
{
    QString file;
    LabelFormat format = LabelFormat::Voc;
    bool existing = false;   // the image has a label file: file is in its format
};
SaveTarget editSaveTarget(const QString &imagePath, LabelFormat newFileFormat);
// A new file in YOLO (newFileYolo) or VOC.
SaveTarget editSaveTarget(const QString &imagePath, bool newFileYolo);

// Writes an edit into target. Unlike a conversion it never removes or converts a file of the
// other format, nor another tool's copy; it fails like saveAnnotations.
bool saveEdit(const QString &imagePath, const QList<Annotation> &annotations, const SaveTarget &target,
              const QStringList &classNames, SaveReport *report = nullptr);

// Stored objects of the image, or -1 when it has no annotation file. Never parses coordinates.
// format (when given) receives the format of that file.
int countAnnotations(const QString &imagePath, LabelFormat *format = nullptr);
