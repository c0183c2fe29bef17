#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

// Where an image's label files live. Free functions on paths: safe on any thread. Loading,
// saving, counting, deleting, converting and checking all find an image's files through here.

// Our layout. The labels directory of an image: its directory with the last "/images/" mapped to
// "/labels/", or its directory + "/labels".
QString labelsDirFor(const QString &imagePath);
QString yoloLabelPath(const QString &imagePath);
// The "labels" folder right beside the image, whatever the mapping says.
QString siblingYoloLabelPath(const QString &imagePath);
QString annotationsDirFor(const QString &imagePath);
QString vocXmlPath(const QString &imagePath);
// Where a new VOC file of the image goes: Annotations/ beside a VOCdevkit's JPEGImages folder
// (when the image folder has no annotations/ of its own and no other file has that name there),
// else vocXmlPath.
QString newVocFilePath(const QString &imagePath);

// Another tool's label folder beside an image folder of a given name (any case): <parent>/labelFolder
// for imageDir <parent>/imageFolder, as VOCdevkit keeps JPEGImages and Annotations and DOTA images
// and labelTxt; empty for an image folder of another name.
QString labelFolderBeside(const QString &imageDir, QLatin1String imageFolder, QLatin1String labelFolder);

// The folder that holds an image folder and every place its label files are kept (the labels
// folder an "/images/" path maps to, the parent of a "JPEGImages" folder): the dataset, for which
// the program's own files may be written (writeguard.h).
QString datasetRootOfImageFolder(const QString &imageDir);

// The image's VOC file as found, the first that exists: ours (even if unreadable); B.xml beside
// the image; <parent>/Annotations/B.xml for an image in a "JPEGImages" folder. The last two count
// only when their root element is <annotation>. Empty when the image has none.
QString findVocFile(const QString &imagePath);

// Existing YOLO label files of the image: ours, most recently modified first; then B.txt beside
// the image when its folder or the folder's parent holds "obj.names" or "classes.txt" (otherwise
// a .txt beside an image is a caption or a note, not labels). A file named "classes.txt" is a
// class list, never an image's labels.
QStringList yoloLabelCandidates(const QString &imagePath);

// "B.json" beside the image: where labelme and X-AnyLabeling keep an image's shapes.
QString labelmeJsonPath(const QString &imagePath);
// That file when it is labelme's (labelmefile.h), even if damaged; empty otherwise.
QString findLabelmeFile(const QString &imagePath);

// The file an image's annotations are read from: its VOC file as found, else its DOTA file
// (dotafile.h), else its first YOLO file, else its labelme JSON.
struct FoundLabelFile
{
    QString path;             // empty when the image has none
    bool isVoc = false;
    bool isDota = false;
    bool isLabelme = false;
    QByteArray content;       // the whole file, when finding it meant reading it
    bool haveContent = false;
};
FoundLabelFile findLabelFile(const QString &imagePath);

// The file a YOLO save writes: B.txt beside the image when that is the labels found, else ours.
QString yoloSaveTarget(const QString &imagePath, const QStringList &candidates);

// Every existing label file of the image as found above (VOC file, DOTA file, the YOLO files, the
// labelme JSON): what
// goes when the image is deleted. Class lists and names files are shared and never listed.
QStringList labelFilesOf(const QString &imagePath);

// "classes.txt" of a labels directory: trimmed non-empty lines in file order; empty when missing.
// ok (when given) is false when the file exists but cannot be read: such names are unknown, not
// empty, and nothing may be written from a reading made with them.
QStringList readClassList(const QString &labelsDir, bool *ok = nullptr);
// Writes "classes.txt" into the image's labels directory; false (old file intact) on failure.
// A file that already holds exactly these names is left alone. Like every dataset file it is
// written only inside the dataset (the folder that holds the image and its labels directory).
bool writeClassList(const QString &imagePath, const QStringList &classNames);
// The same for a given labels directory, written only inside insideRoot.
bool writeClassListIn(const QString &labelsDir, const QStringList &classNames, const QString &insideRoot);

// Width and height as shown, after the EXIF orientation; invalid when the header cannot be read.
QSize imageSize(const QString &imagePath);
