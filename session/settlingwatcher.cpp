#include "session/settlingwatcher.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

QFileSystemWatcher *newSettlingWatcher(QObject *parent, QTimer *settle)
{
    auto *watcher = new QFileSystemWatcher(parent);
    // The folders see a file replaced (renamed over) or made; the files see writes in place.
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, settle, qOverload<>(&QTimer::start));
    QObject::connect(watcher, &QFileSystemWatcher::fileChanged, settle, qOverload<>(&QTimer::start));
    return watcher;
}

void watchOnly(QFileSystemWatcher *watcher, const QStringList &paths)
{
    const QStringList old = watcher->files() + watcher->directories();
    if (!old.isEmpty())
        watcher->removePaths(old);
    for (const QString &path : paths) {
        if (QFileInfo::exists(path))
            watcher->addPath(path);
    }
}
