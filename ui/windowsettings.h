#pragma once

#include "inference/serverconfig.h"
#include "storage/annotationstore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Brindlemark's per-user settings. A fresh store is opened for every read and write, so another
// part of the program (the language) never sees a stale copy.
namespace WindowSettings {

constexpr int kMaxRecentDirs = 10;
constexpr int kMaxLabels = 50;
constexpr int kMaxFolderPlaces = 100;

struct Values
{
    QStringList labels;
    bool useYolo = false;
    ServerConfig server;
};

// Reads "labels", "format", "model/base", "model/name", "model/concurrency" (a stored 2 is read
// as 1, below 1 becomes 1) and "model/timeout" (a stored 180 is read as 300).
Values load();
// Writes the same six keys, in that order.
void save(const Values &values);
// Categories the user deleted, not taken from label files again ("deletedLabels").
QStringList deletedLabels();
// "labels" and "deletedLabels" (removed when empty).
void saveLabels(const QStringList &labels, const QStringList &deleted = QStringList());

// The file list's width as the user left it ("fileList/width", default 220).
int fileListWidth();
void saveFileListWidth(int width);

// A drawn shape takes the current category without the label dialog ("annotate/dontAskCategory",
// default false).
bool dontAskCategory();
void saveDontAskCategory(bool dontAsk);

QByteArray geometry();
void saveGeometry(const QByteArray &geometry);

// The save format the user chose for a folder (VOC, YOLO or labelme), when one was chosen there.
std::optional<LabelFormat> folderFormat(const QString &dir);
void saveFolderFormat(const QString &dir, LabelFormat format);

// The image the user was on when they last left dir (an absolute path), empty when none is stored.
QString lastImageIn(const QString &dir);
// Remembered for the last hundred folders left ("lastImages": folder, image name in it, ...).
void saveLastImage(const QString &dir, const QString &image);

QString lastDirectory();
QStringList recentDirectories();
// Stores dir as "dir/last" and moves it to the front of the recent list (at most ten).
QStringList rememberDirectory(const QString &dir);

} // namespace WindowSettings
