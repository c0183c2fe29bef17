#pragma once

#include <QStringList>

class QFileSystemWatcher;
class QObject;
class QTimer;

// A watcher, owned by parent, whose every change in a watched folder or file (re)starts settle:
// a burst of changes (a save that writes, then renames over) is looked at once, when it settles.
QFileSystemWatcher *newSettlingWatcher(QObject *parent, QTimer *settle);

// From now on watcher watches those of paths that exist, and nothing else.
void watchOnly(QFileSystemWatcher *watcher, const QStringList &paths);
