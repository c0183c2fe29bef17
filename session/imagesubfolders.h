#pragma once

#include <QString>
#include <QStringList>

// The folders below dir that hold images, for a folder that holds none itself (a dataset root:
// images/, train/images/, JPEGImages/...). Looks two levels down, in name order; reads at most a
// bounded number of entries per folder, so a labels folder of a million files costs little.
// At most `limit` folders, as absolute paths.
QStringList imageSubfolders(const QString &dir, int limit = 8);
