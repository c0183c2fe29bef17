#include "session/pendingresults.h"

#include "session/liveannotations.h"
#include "session/pendingwritethrottle.h"
#include "session/settlingwatcher.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/pendingfileloader.h"
#include "storage/pendingfilewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

#include <algorithm>

namespace {

// A larger file does not hold the first image back: its results join the image on arrival.
constexpr qint64 kWaitForFileBytes = 512 * 1024;

// The record as the pending file stores it, for comparing with what a sync reports.
Annotation stored(Annotation a)
{
    a.id = 0;
    a.pending = 1;
    return a;
}

void removeStored(QList<Annotation> &list, const QList<Annotation> &records)
{
    for (const Annotation &r : records) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list.at(i).pending && stored(list.at(i)) == r) {
                list.removeAt(i);
                break;
            }
        }
    }
}

QList<Annotation> pendingRecords(const QList<Annotation> &annotations)
{
    QList<Annotation> pending;
    for (Annotation a : annotations) {
        if (a.pending) {
            a.id = 0;   // ids are the scene's, not part of what is stored
            pending.append(a);
        }
    }
    return pending;
}

} // namespace

PendingResults::PendingResults(AnnotationCache *cache, QObject *parent)
    : QObject(parent)
    , m_cache(cache)
    , m_loader(new PendingFileLoader(this))
    , m_writer(new PendingFileWriter(this))
    , m_throttle(new PendingWriteThrottle(this))
    , m_checkTimer(new QTimer(this))
{
    connect(m_loader, &PendingFileLoader::loaded, this, &PendingResults::onLoaded);
    connect(m_throttle, &PendingWriteThrottle::writeRequested, this, [this] { flush(true); });
    connect(m_writer, &PendingFileWriter::synced, this, &PendingResults::onSynced);
    // A write of the file comes as a burst of events (temporary file, rename, lock): one look.
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(200);
    connect(m_checkTimer, &QTimer::timeout, this, &PendingResults::check);
}

void PendingResults::preload(const QString &dir)
{
    if (m_holdLargeRead && QFileInfo(pendingFilePath(dir)).size() > kWaitForFileBytes)
        return;
    m_loader->preload(dir);
}

void PendingResults::holdLargeRead(bool hold)
{
    m_holdLargeRead = hold;
    if (!hold && m_readHeld) {
        m_readHeld = false;
        m_loader->load(m_dir);
    }
}

void PendingResults::reset(const QString &dir)
{
    m_dir = dir;
    m_fromFile.clear();
    m_loaded = false;
    m_readHeld = false;
    m_writable = true;
    m_changed = false;
    m_base = PendingFileState();
    m_syncInFlight = false;
    m_checkTimer->stop();
    leaveImage();
    watchFolder();
}

void PendingResults::load(bool inBackground)
{
    if (inBackground) {
        // A small file is read before the listing's first chunk anyway.
        m_waitForFile = QFileInfo(pendingFilePath(m_dir)).size() <= kWaitForFileBytes;
        if (!m_waitForFile && m_holdLargeRead) {
            m_readHeld = true;
            return;
        }
        m_loader->load(m_dir);
        return;
    }
    bool readable = true;
    const PendingFileState state = readPendingFileState(m_dir, &readable);
    onLoaded(m_dir, state, readable);
}

void PendingResults::waitForLoader(unsigned long ms)
{
    m_loader->wait(ms);
}

void PendingResults::setWatching(bool watching)
{
    if (watching == (m_watcher != nullptr))
        return;
    if (!watching) {
        delete m_watcher;
        m_watcher = nullptr;
        return;
    }
    m_watcher = newSettlingWatcher(this, m_checkTimer);
    watchFolder();
}

void PendingResults::watchFolder()
{
    if (!m_watcher)
        return;
    watchOnly(m_watcher, m_dir.isEmpty() ? QStringList() : QStringList{m_dir, pendingFilePath(m_dir)});
}

void PendingResults::onLoaded(const QString &dir, const PendingFileState &state, bool readable)
{
    if (dir != m_dir)
        return;
    const AnnotationCache &pending = state.records;
    m_base = state;
    logTiming(QStringLiteral("pending results read %1 images").arg(pending.size()));
    m_loaded = true;
    m_writable = readable;
    if (!readable) {
        emit notice(translateText("无法读取待确认结果文件，本次不会改写它：%1")
                        .arg(QDir::toNativeSeparators(pendingFilePath(dir))));
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        // An image shown before the file arrived has a list already: the file's records join it.
        if (it.key() == m_currentImage) {
            emit currentResultsArrived(it.value());
            const QList<Annotation> now = m_live ? m_live->annotations() : m_cache->value(it.key()) + it.value();
            m_cache->insert(it.key(), now);
            m_flushed = pendingRecords(now);
        } else if (m_cache->contains(it.key())) {
            (*m_cache)[it.key()] += it.value();
        } else {
            m_fromFile.insert(it.key(), it.value());
        }
    }
    emit loaded();
}

void PendingResults::enterImage(const QString &path, const QList<Annotation> &annotations)
{
    m_currentImage = path;
    m_flushed = pendingRecords(annotations);
    m_decided.clear();
}

void PendingResults::leaveImage()
{
    m_currentImage.clear();
    m_flushed.clear();
    m_decided.clear();
}

void PendingResults::labelsWritten(const QString &path)
{
    if (path != m_currentImage || !m_live)
        return;
    capture();   // the decisions the label file now holds
    if (m_decided.isEmpty())
        return;
    m_flushed = pendingRecords(m_live->annotations());
    m_decided.clear();
    m_changed = true;
}

void PendingResults::dropUnlisted(const QStringList &listed)
{
    if (m_fromFile.isEmpty())
        return;
    const QSet<QString> known(listed.cbegin(), listed.cend());
    for (auto it = m_fromFile.begin(); it != m_fromFile.end();) {
        if (!known.contains(it.key()))
            it = m_fromFile.erase(it);
        else
            ++it;
    }
}

bool PendingResults::forget(const QString &path)
{
    const bool had = !pendingRecords(m_cache->value(path)).isEmpty() || m_fromFile.contains(path)
        || (path == m_currentImage && m_live && m_live->pendingCount() > 0);
    m_fromFile.remove(path);
    if (had)
        m_changed = true;
    return had;
}

void PendingResults::markChanged()
{
    // Written every few seconds during a run: a crash loses only the last results.
    m_changed = true;
    m_throttle->markChanged();
}

AnnotationCache PendingResults::snapshot() const
{
    // Images whose results were never merged keep the records read from the file.
    AnnotationCache all = m_fromFile;
    for (auto it = m_cache->cbegin(); it != m_cache->cend(); ++it)
        all.insert(it.key(), it.value());
    if (!m_decided.isEmpty() && !m_currentImage.isEmpty())
        all[m_currentImage] += m_decided;
    return all;
}

void PendingResults::capture()
{
    if (m_currentImage.isEmpty() || !m_live)
        return;
    const QList<Annotation> annotations = m_live->annotations();
    m_cache->insert(m_currentImage, annotations);
    // What the file held and the editor no longer has pending was decided since the last write
    // of the label file: it stays filed, in its place, until that write.
    QList<Annotation> onScreen = pendingRecords(annotations);
    QList<Annotation> filed;
    m_decided.clear();
    for (const Annotation &r : std::as_const(m_flushed)) {
        const auto same = std::find_if(onScreen.begin(), onScreen.end(),
                                       [&r](const Annotation &a) { return stored(a) == stored(r); });
        if (same != onScreen.end()) {
            filed.append(*same);
            onScreen.erase(same);
        } else {
            m_decided.append(stored(r));
            filed.append(stored(r));
        }
    }
    filed += onScreen;
    if (filed != m_flushed) {
        m_flushed = filed;
        m_changed = true;
    }
}

bool PendingResults::flush(bool inBackground)
{
    // A write still on its way must not land after this one, and its merge is taken in first.
    if (!inBackground)
        m_writer->waitForIdle();
    capture();
    if (m_dir.isEmpty() || !m_changed)
        return true;
    // Before the file has been read, writing it would drop the results it holds; a file that
    // cannot be read is never overwritten.
    if (!m_loaded)
        return true;
    if (!m_writable)
        return false;
    if (inBackground) {
        // With a write on its way, this one follows when it is back.
        if (!m_syncInFlight)
            startSync(true);
        return true;
    }
    // Read, merge and write under the lock, so that what another program wrote meanwhile stays.
    const PendingSync sync = syncPendingFile(m_dir, m_base, snapshot());
    if (sync.ok)
        m_changed = false;
    apply(sync);
    emit written(sync.ok);
    return sync.ok;
}

void PendingResults::startSync(bool write)
{
    m_syncInFlight = true;
    m_syncWrites = write;
    m_writer->sync(m_dir, m_base, snapshot(), write);
    if (write)
        m_changed = false;   // set again if the write fails
}

void PendingResults::check()
{
    if (m_dir.isEmpty() || !m_loaded || !m_writable)
        return;
    if (m_syncInFlight) {
        m_checkTimer->start();   // the file may change again after that sync read it
        return;
    }
    // A replaced file is no longer watched under its name.
    if (m_watcher && !m_watcher->files().contains(pendingFilePath(m_dir)) && QFileInfo::exists(pendingFilePath(m_dir)))
        m_watcher->addPath(pendingFilePath(m_dir));
    if (FileStamp::of(pendingFilePath(m_dir)) == m_base.stamp)
        return;   // our own write, or nothing new
    capture();
    // Changes of ours go along when there are any; otherwise the file is only read.
    startSync(m_changed);
}

void PendingResults::onSynced(const QString &dir, const PendingSync &sync)
{
    if (dir != m_dir || !m_syncInFlight)
        return;   // a folder the user has left
    m_syncInFlight = false;
    const bool wrote = m_syncWrites;
    if (wrote && !sync.ok)
        m_changed = true;   // the next flush tries again
    apply(sync);
    if (wrote)
        emit written(sync.ok);
    // Changes made while the write was on its way.
    if (m_changed)
        m_throttle->markChanged();
}

void PendingResults::apply(const PendingSync &sync)
{
    m_base = sync.state;
    QSet<QString> touched;
    for (auto it = sync.removed.cbegin(); it != sync.removed.cend(); ++it) {
        // The editor's shapes are the user's to decide; they stay on screen.
        if (it.key() == m_currentImage && m_live)
            continue;
        touched.insert(it.key());
        if (const auto cached = m_cache->find(it.key()); cached != m_cache->end()) {
            removeStored(*cached, it.value());
        } else if (const auto fromFile = m_fromFile.find(it.key()); fromFile != m_fromFile.end()) {
            removeStored(*fromFile, it.value());
            if (fromFile->isEmpty())
                m_fromFile.erase(fromFile);
        }
    }
    for (auto it = sync.added.cbegin(); it != sync.added.cend(); ++it) {
        touched.insert(it.key());
        if (it.key() == m_currentImage && m_live) {
            // Joins the editor without an undo step; the next flush must not count it as ours.
            m_flushed += it.value();
            emit currentResultsArrived(it.value());
            m_cache->insert(it.key(), m_live->annotations());
        } else if (const auto cached = m_cache->find(it.key()); cached != m_cache->end()) {
            *cached += it.value();
        } else {
            m_fromFile[it.key()] += it.value();
        }
    }
    if (!touched.isEmpty())
        emit imagesTouched(QStringList(touched.cbegin(), touched.cend()));
}
