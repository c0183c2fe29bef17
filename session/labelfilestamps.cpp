#include "session/labelfilestamps.h"

#include "session/settlingwatcher.h"
#include "storage/datasetlayout.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

namespace {

const int kSettleMs = 200;

} // namespace

LabelFileStamps::LabelFileStamps(QObject *parent)
    : QObject(parent)
    , m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, [this] {
        rewatch();   // a file renamed over is a new file: the watch follows it
        // Folder events of other files (the pending file, other images' labels) say nothing.
        const QList<FileStamp> now = stampsOf(m_watched);
        if (now == m_seen)
            return;
        m_seen = now;
        emit currentChanged();
    });
}

QList<FileStamp> LabelFileStamps::stampsOf(const QString &imagePath)
{
    QList<FileStamp> stamps;
    const QStringList files = labelFilesOf(imagePath);
    for (const QString &file : files)
        stamps.append(FileStamp::of(file));
    return stamps;
}

void LabelFileStamps::remember(const QString &imagePath)
{
    m_stamps.insert(imagePath, stampsOf(imagePath));
}

bool LabelFileStamps::changed(const QString &imagePath) const
{
    const auto it = m_stamps.constFind(imagePath);
    return it != m_stamps.constEnd() && *it != stampsOf(imagePath);
}

void LabelFileStamps::setWatching(bool watching)
{
    if (watching == (m_watcher != nullptr))
        return;
    if (!watching) {
        delete m_watcher;
        m_watcher = nullptr;
        m_settle->stop();
        return;
    }
    m_watcher = newSettlingWatcher(this, m_settle);
    rewatch();
}

void LabelFileStamps::watch(const QString &imagePath)
{
    m_watched = imagePath;
    m_seen = imagePath.isEmpty() ? QList<FileStamp>() : stampsOf(imagePath);
    m_settle->stop();
    rewatch();
}

void LabelFileStamps::rewatch()
{
    if (!m_watcher)
        return;
    QSet<QString> paths;
    if (!m_watched.isEmpty()) {
        const QStringList files = labelFilesOf(m_watched);
        for (const QString &file : files) {
            paths.insert(file);
            paths.insert(QFileInfo(file).absolutePath());
        }
        // Where a first label file of the image would appear.
        paths.insert(labelsDirFor(m_watched));
        paths.insert(QFileInfo(m_watched).absolutePath());
    }
    watchOnly(m_watcher, QStringList(paths.cbegin(), paths.cend()));
}
