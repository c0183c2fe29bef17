#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// Where an image's label files live. Free functions on paths, no state: safe on any thread.

// The labels directory of an image: its directory with the last "/images/" mapped to "/labels/",
// or its directory + "/labels".
QString labelsDirFor(const QString &imagePath);
QString yoloLabelPath(const QString &imagePath);
// The "labels" folder right beside the image, whatever the mapping says.
QString siblingYoloLabelPath(const QString &imagePath);
QString annotationsDirFor(const QString &imagePath);
QString vocXmlPath(const QString &imagePath);

// Existing YOLO label files of the image, most recently modified first.
QStringList yoloLabelCandidates(const QString &imagePath);

// "classes.txt" of a labels directory: trimmed non-empty lines in file order; empty when missing.
// ok (when given) is false when the file exists but cannot be read: such names are unknown, not
// empty, and nothing may be written from a reading made with them.
QStringList readClassList(const QString &labelsDir, bool *ok = nullptr);
// Writes "classes.txt" into the image's labels directory; false (old file intact) on failure.
// A file that already holds exactly these names is left alone.
bool writeClassList(const QString &imagePath, const QStringList &classNames);

// Width and height as shown, after the EXIF orientation; invalid when the header cannot be read.
QSize imageSize(const QString &imagePath);
