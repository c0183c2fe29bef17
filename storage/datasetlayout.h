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
QStringList readClassList(const QString &labelsDir);
// Writes "classes.txt" into the image's labels directory; false (old file intact) on failure.
bool writeClassList(const QString &imagePath, const QStringList &classNames);

// Width and height as shown, after the EXIF orientation; invalid when the header cannot be read.
QSize imageSize(const QString &imagePath);
