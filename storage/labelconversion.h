#pragma once

#include "storage/annotationstore.h"
#include "storage/readproblem.h"

#include <QString>
#include <QStringList>

// Converting an image's label file to another format: an explicit act (the command line's
// convert, the window's folder conversion), never a side effect of an edit. Reentrant.

struct LabelConversion
{
    enum Outcome {
        Converted,     // written in the new format; the other formats' files are gone
        NoLabels,      // the image has no label file: left without one
        Incomplete,    // the label file (or its class names) could not be read to its end: untouched
        NoImageSize,   // the image cannot be read; YOLO coordinates would be lost: untouched
        Failed,        // the save failed; nothing changed
        Keypoints,     // to VOC, labelme or DOTA from a pose dataset: none can hold keypoints; untouched
        KeptShapes,    // the labelme file holds shapes the new format cannot hold: untouched
    };
    Outcome outcome = NoLabels;
    int count = -1;              // objects stored afterwards (Converted)
    // Incomplete: the file; Failed: a refused link or unreadable names file; Keypoints: the dataset
    // file that declares them
    QString file;
    bool refusedLink = false;    // Failed: file is a link that leads out of the dataset or nowhere
    QStringList missingNames;    // Failed: categories that file (another tool's names file) lacks
    bool keypointRows = false;   // Failed: file is a pose dataset's, whose rows hold no outline
    int kept = 0;                // KeptShapes: how many
    ReadProblem problem;         // Incomplete: why
    int outsideImage = 0;        // Converted: shapes wholly outside the image, left out
};

// Reads the image's labels and writes them in the given format (classNames start a class list
// where the labels folder has none). Only a complete reading replaces the file it came from.
// To DOTA only for an image in an "images" folder (dotafile.h).
LabelConversion convertLabelFile(const QString &imagePath, LabelFormat to, const QStringList &classNames);
// To YOLO (toYolo) or VOC.
LabelConversion convertLabelFile(const QString &imagePath, bool toYolo, const QStringList &classNames);
