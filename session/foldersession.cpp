#include "session/foldersession.h"

#include "session/liveannotations.h"
#include "session/pendingwritethrottle.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "storage/filestatescanner.h"
#include "storage/labelconversion.h"
#include "storage/pendingfileloader.h"
#include "storage/pendingfilewriter.h"
#include "storage/writeguard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

namespace {

const unsigned long kWorkerStopWaitMs = 3000;
// Rows whose pending count is reported per event-loop pass after the pending file arrives.
const int kStatesPerPass = 400;

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

QStringList labelsOf(const QList<Annotation> &annotations)
{
    QStringList labels;
    for (const Annotation &a : annotations)
        labels.append(a.label);
    return labels;
}

bool anyPending(const QList<Annotation> &annotations)
{
    return std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) { return a.pending != 0; });
}

// Results for an image of a folder that is not open: merged straight into that folder's label and
// pending files, as the session would have done with the folder open.
CacheMergeResult storeInFolderFiles(const QString &path, const QList<Annotation> &results, bool newFileYolo,
                                    const QStringList &classNames)
{
    const QString dir = QFileInfo(path).absolutePath();
    bool readable = true;
    const PendingFileState base = readPendingFileState(dir, &readable);
    AnnotationCache cache = base.records;
    const auto own = cache.constFind(path);
    if (own != cache.cend())
        cache.insert(path, cacheEntry(path, own.value()));
    const CacheMergeResult merged = mergeIntoCache(cache, path, results, newFileYolo, classNames);
    // A file that exists but cannot be read may hold results: it is not overwritten. Another
    // program may write it meanwhile: the write merges.
    if (anyPending(merged.kept) && readable)
        syncPendingFile(dir, base, cache);
    return merged;
}

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

bool moveLabelFilesToTrash(const QString &imagePath)
{
    const QStringList files = labelFilesOf(imagePath);
    bool removed = true;
    for (const QString &file : files) {
        // Restoring the image from the trash then restores its labels too.
        if (!QFile::moveToTrash(file))
            removed = QFile::remove(file) && removed;
    }
    return removed;
}

} // namespace

FolderSession::FolderSession(QObject *parent)
    : QObject(parent)
    , m_directoryLoader(new DirectoryLoader(this))
    , m_stateScanner(new FileStateScanner(this))
    , m_pendingLoader(new PendingFileLoader(this))
    , m_pendingWriter(new PendingFileWriter(this))
    , m_throttle(new PendingWriteThrottle(this))
    , m_stateTimer(new QTimer(this))
    , m_checkTimer(new QTimer(this))
{
    registerAnnotationMetaTypes();
    connect(m_directoryLoader, &DirectoryLoader::chunkReady, this, &FolderSession::onChunkReady);
    connect(m_directoryLoader, &DirectoryLoader::done, this, &FolderSession::onListingDone);
    connect(m_directoryLoader, &DirectoryLoader::undecodableNames, this, &FolderSession::noticeUnlistable);
    connect(m_stateScanner, &FileStateScanner::stateReady, this, &FolderSession::onStateReady);
    connect(m_stateScanner, &FileStateScanner::labelFormatFound, this, &FolderSession::onLabelFormatFound);
    connect(m_stateScanner, &QThread::finished, this, [] { logTiming(QStringLiteral("states done")); });
    connect(m_pendingLoader, &PendingFileLoader::loaded, this, &FolderSession::onPendingLoaded);
    connect(m_throttle, &PendingWriteThrottle::writeRequested, this, [this] { flushPending(true); });
    connect(m_pendingWriter, &PendingFileWriter::synced, this, &FolderSession::onSynced);
    // A write of the file comes as a burst of events (temporary file, rename, lock): one look.
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(200);
    connect(m_checkTimer, &QTimer::timeout, this, &FolderSession::checkPendingFile);
    m_stateTimer->setSingleShot(true);
    m_stateTimer->setInterval(0);
    connect(m_stateTimer, &QTimer::timeout, this, &FolderSession::refreshSomePendingStates);
}

FolderSession::~FolderSession()
{
    m_directoryLoader->requestStop();
    m_stateScanner->requestStop();
}

void FolderSession::setLiveAnnotations(const LiveAnnotations *live)
{
    m_live = live;
}

void FolderSession::setClassNames(const QStringList &names)
{
    m_classNames = names;
}

void FolderSession::setFallbackYolo(bool yolo)
{
    m_fallbackYolo = yolo;
    if (m_dir.isEmpty())
        m_folderYolo = yolo;
}

void FolderSession::setUseYolo(bool yolo)
{
    m_formatDecided = !m_dir.isEmpty();
    if (m_folderYolo == yolo)
        return;
    m_folderYolo = yolo;
    emit folderFormatChanged(yolo);
}

void FolderSession::onLabelFormatFound(const QString &path, bool yolo)
{
    if (m_formatDecided || QFileInfo(path).absolutePath() != m_dir)
        return;
    m_formatDecided = true;
    if (m_folderYolo == yolo)
        return;
    m_folderYolo = yolo;
    emit folderFormatChanged(yolo);
}

bool FolderSession::newFileYolo()
{
    if (m_formatDecided || m_dir.isEmpty())
        return m_folderYolo;
    // A save before the scan got that far: the same rule, on this thread.
    const LabelFormat found = firstLabelFormat(m_imagePaths);
    if (found != LabelFormat::None)
        onLabelFormatFound(m_imagePaths.first(), found == LabelFormat::Yolo);
    else if (!m_listing)
        m_formatDecided = true;
    return m_folderYolo;
}

bool FolderSession::newFileYoloIn(const QString &dir)
{
    if (dir == m_dir)
        return newFileYolo();
    const auto known = m_folderFormats.constFind(dir);
    if (known != m_folderFormats.cend())
        return *known;
    const LabelFormat found = firstLabelFormat(DirectoryLoader::listImages(dir));
    const bool yolo = found == LabelFormat::None ? m_fallbackYolo : found == LabelFormat::Yolo;
    m_folderFormats.insert(dir, yolo);
    return yolo;
}

void FolderSession::preload(const QString &dir)
{
    m_pendingLoader->preload(dir);
}

void FolderSession::setWatchingPendingFile(bool watching)
{
    if (watching == (m_watcher != nullptr))
        return;
    if (!watching) {
        delete m_watcher;
        m_watcher = nullptr;
        return;
    }
    m_watcher = new QFileSystemWatcher(this);
    // The folder sees the file replaced (renamed over); the file itself sees writes in place.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_checkTimer, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_checkTimer, qOverload<>(&QTimer::start));
    watchFolder();
}

void FolderSession::watchFolder()
{
    if (!m_watcher)
        return;
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);
    if (m_dir.isEmpty())
        return;
    m_watcher->addPath(m_dir);
    if (QFileInfo::exists(pendingFilePath(m_dir)))
        m_watcher->addPath(pendingFilePath(m_dir));
}

void FolderSession::resetFolder(const QString &dir)
{
    if (!m_dir.isEmpty()) {
        flushPending();
        if (m_formatDecided)
            m_folderFormats.insert(m_dir, m_folderYolo);   // for results that still arrive for it
    }
    m_dir = dir;
    m_formatDecided = false;
    if (m_folderYolo != m_fallbackYolo) {
        m_folderYolo = m_fallbackYolo;
        emit folderFormatChanged(m_folderYolo);
    }
    m_folderFormats.remove(dir);
    m_listing = true;
    m_imagePaths.clear();
    m_unlistable.clear();
    m_cache.clear();
    m_imageStates.clear();
    m_damagedFiles.clear();
    m_unreadableNames.clear();
    m_previousImage.clear();
    m_pendingFromFile.clear();
    m_pendingLoaded = false;
    m_pendingWritable = true;
    m_pendingChanged = false;
    m_pendingBase = PendingFileState();
    m_syncInFlight = false;
    m_checkTimer->stop();
    m_stateQueue.clear();
    m_indexHint = 0;
    leaveImage();
    watchFolder();
}

void FolderSession::open(const QString &dir, const QString &preferredImage)
{
    resetFolder(dir);
    m_preferredImage = preferredImage;
    // A large file takes a while to read: the first image does not wait for it, its results
    // join it on arrival. A small one is read before the listing's first chunk anyway.
    m_waitForPending = QFileInfo(pendingFilePath(dir)).size() <= kWaitForPendingBytes;
    m_directoryLoader->load(dir);
    m_pendingLoader->load(dir);
}

void FolderSession::openNow(const QString &dir)
{
    resetFolder(dir);
    m_preferredImage.clear();
    QStringList unlistable;
    m_imagePaths = DirectoryLoader::listImages(dir, &unlistable);
    m_listing = false;
    noticeUnlistable(dir, unlistable);
    bool readable = true;
    const PendingFileState state = readPendingFileState(dir, &readable);
    onPendingLoaded(dir, state, readable);
}

bool FolderSession::close()
{
    m_directoryLoader->requestStop();
    m_stateScanner->requestStop();
    m_directoryLoader->wait(kWorkerStopWaitMs);
    m_stateScanner->wait(kWorkerStopWaitMs);
    m_pendingLoader->wait(kWorkerStopWaitMs);
    return flushPending();
}

void FolderSession::onChunkReady(const QString &dir, const QStringList &paths)
{
    if (dir != m_dir)
        return;   // a chunk of a folder the user has left
    m_imagePaths += paths;
    emit pathsListed(paths);
    wantFirstImage();
}

void FolderSession::onListingDone(const QString &dir, const QStringList &paths)
{
    if (dir != m_dir)
        return;
    logTiming(QStringLiteral("listing done %1 images").arg(paths.size()));
    m_listing = false;
    m_imagePaths = paths;
    emit listingFinished(paths);
    m_stateScanner->restart(paths);
    if (m_pendingLoaded) {
        dropUnlisted();
        schedulePendingStates();
    }
    wantFirstImage();
}

void FolderSession::onPendingLoaded(const QString &dir, const PendingFileState &state, bool readable)
{
    if (dir != m_dir)
        return;
    const AnnotationCache &pending = state.records;
    m_pendingBase = state;
    logTiming(QStringLiteral("pending results read %1 images").arg(pending.size()));
    m_pendingLoaded = true;
    m_pendingWritable = readable;
    if (!readable) {
        emit notice(translateText("无法读取待确认结果文件，本次不会改写它：%1")
                        .arg(QDir::toNativeSeparators(pendingFilePath(dir))));
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        // An image shown before the file arrived has a list already: the file's records join it.
        if (it.key() == m_currentImage) {
            emit currentResultsArrived(it.value());
            const QList<Annotation> now = m_live ? m_live->annotations() : m_cache.value(it.key()) + it.value();
            m_cache.insert(it.key(), now);
            m_flushedPending = pendingRecords(now);
        } else if (m_cache.contains(it.key())) {
            m_cache[it.key()] += it.value();
        } else {
            m_pendingFromFile.insert(it.key(), it.value());
        }
    }
    if (!m_listing)
        dropUnlisted();
    wantFirstImage();
    schedulePendingStates();
}

void FolderSession::noticeUnlistable(const QString &dir, const QStringList &names)
{
    // Qt cannot open a file whose name is not UTF-8: the user has to rename it.
    if (dir != m_dir || names.isEmpty())
        return;
    m_unlistable = names;
    QStringList shown;
    for (const QString &name : names)
        shown.append(QDir::toNativeSeparators(name));
    emit notice(translateText("文件名不是有效的 UTF-8，无法打开，请重命名：%1").arg(shown.join(QStringLiteral(", "))));
}

void FolderSession::dropUnlisted()
{
    // Results of images no longer in the folder are not loaded; the next write drops them.
    if (m_pendingFromFile.isEmpty())
        return;
    const QSet<QString> listed(m_imagePaths.cbegin(), m_imagePaths.cend());
    for (auto it = m_pendingFromFile.begin(); it != m_pendingFromFile.end();) {
        if (!listed.contains(it.key()))
            it = m_pendingFromFile.erase(it);
        else
            ++it;
    }
}

void FolderSession::schedulePendingStates()
{
    // Ten thousand rows updated at once would hold up the first image and the first steps.
    m_stateQueue = m_pendingFromFile.keys();
    if (!m_stateQueue.isEmpty())
        m_stateTimer->start();
}

void FolderSession::refreshSomePendingStates()
{
    for (int i = 0; i < kStatesPerPass && !m_stateQueue.isEmpty(); ++i)
        refreshImageState(m_stateQueue.takeLast());
    if (!m_stateQueue.isEmpty())
        m_stateTimer->start();
}

void FolderSession::wantFirstImage()
{
    // The first image shows with its results from a small pending file at once.
    if (!m_currentImage.isEmpty() || m_imagePaths.isEmpty() || (!m_pendingLoaded && m_waitForPending))
        return;
    QString first = m_imagePaths.first();
    if (!m_preferredImage.isEmpty()) {
        if (m_imagePaths.contains(m_preferredImage))
            first = m_preferredImage;
        else if (m_listing)
            return;   // it may come with a later chunk
        m_preferredImage.clear();
    }
    emit imageWanted(first);
}

void FolderSession::onStateReady(const QString &path, int confirmed, bool labelFile)
{
    if (path == m_currentImage)
        return;
    const auto cached = m_cache.constFind(path);
    // What this session read or wrote itself is newer than the scan.
    if (cached == m_cache.constEnd())
        m_imageStates[path].labelFile = labelFile;
    if (cached != m_cache.constEnd() && !cached->isEmpty()) {
        refreshImageState(path);
        return;
    }
    ImageState &state = m_imageStates[path];
    state.confirmed = confirmed;
    state.pending = int(m_pendingFromFile.value(path).size());
    state.known = true;
    emit imageStateChanged(path, state);
}

qsizetype FolderSession::indexOf(const QString &path) const
{
    // Steps move one place: look next to the last answer before searching ten thousand paths.
    for (qsizetype i = m_indexHint - 1; i <= m_indexHint + 1; ++i) {
        if (i >= 0 && i < m_imagePaths.size() && m_imagePaths.at(i) == path)
            return m_indexHint = i;
    }
    return m_indexHint = m_imagePaths.indexOf(path);
}

QList<Annotation> FolderSession::annotationsFor(const QString &path)
{
    const auto cached = m_cache.constFind(path);
    if (cached != m_cache.constEnd())
        return *cached;
    const StoredAnnotations stored = readStoredAnnotations(path);
    // Only the label file itself may be moved aside; a names file is the whole dataset's.
    if (!stored.complete() && stored.damagedFile == stored.file)
        m_damagedFiles.insert(path, stored.damagedFile);
    else if (!stored.complete())
        m_unreadableNames.insert(path, stored.damagedFile);
    m_imageStates[path].labelFile = !stored.file.isEmpty();
    emit labelsUsed(labelsOf(stored.annotations));
    QList<Annotation> list = stored.annotations;
    list += m_pendingFromFile.take(path);
    m_cache.insert(path, list);
    return list;
}

QList<Annotation> FolderSession::enterImage(const QString &path)
{
    if (!m_currentImage.isEmpty())
        m_previousImage = m_currentImage;
    m_currentImage = path;
    const QList<Annotation> annotations = annotationsFor(path);
    m_flushedPending = pendingRecords(annotations);
    const QString names = m_unreadableNames.value(path);
    const QString damaged = m_damagedFiles.value(path);
    if (!names.isEmpty()) {
        emit notice(translateText("无法读取类别文件，类别暂以编号显示，此图片不能保存：%1")
                        .arg(QDir::toNativeSeparators(names)));
    } else if (!damaged.isEmpty()) {
        emit notice(translateText("标注文件已损坏，只读出了一部分；保存时原文件会先移入回收站：%1")
                        .arg(QDir::toNativeSeparators(damaged)));
    }
    return annotations;
}

void FolderSession::leaveImage()
{
    m_currentImage.clear();
    m_flushedPending.clear();
}

bool FolderSession::trashDamagedOriginal(const QString &path)
{
    // Only the image's own label file: a class-names file that cannot be read makes the save refuse.
    const QString damaged = m_damagedFiles.value(path);
    if (damaged.isEmpty() || !QFileInfo::exists(damaged))
        return true;
    if (QFile::moveToTrash(damaged))
        return true;
    // Without a trash the original is kept beside itself under a name no reader takes for labels.
    const QString aside = damaged + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::rename(damaged, aside);
}

bool FolderSession::saveImage(const QString &path, const QList<Annotation> &annotations, SaveReport *report)
{
    const QList<Annotation> kept = labelFileRecords(annotations);
    emit labelsUsed(labelsOf(kept));
    SaveReport own;
    SaveReport &r = report ? *report : own;
    r = SaveReport();
    // Records read with unknown class names hold numbers, not names: they are never written.
    const QString names = m_unreadableNames.value(path);
    if (!names.isEmpty()) {
        r.unreadableNamesFile = names;
        return false;
    }
    // The file the image has decides format and place, taken before a damaged one is moved aside.
    SaveTarget target = editSaveTarget(path, m_folderYolo);
    if (!target.existing && kept.isEmpty()) {
        // A shape drawn and taken back, or results rejected, say nothing about the image.
        refreshImageState(path);
        flushPending();
        return true;
    }
    if (!target.existing)
        target = editSaveTarget(path, newFileYoloIn(QFileInfo(path).absolutePath()));
    if (!trashDamagedOriginal(path) || !saveEdit(path, kept, target, m_classNames, &r))
        return false;
    noticeNamesFile(r.namesNotice);
    m_damagedFiles.remove(path);
    m_unreadableNames.remove(path);
    m_imageStates[path].labelFile = true;
    refreshImageState(path);
    flushPending();
    return true;
}

FolderSession::CheckedMark FolderSession::markChecked(const QString &path, SaveReport *report)
{
    SaveReport own;
    SaveReport &r = report ? *report : own;
    r = SaveReport();
    CheckedMark mark;
    const QString names = m_unreadableNames.value(path);
    if (!names.isEmpty()) {
        r.unreadableNamesFile = names;
        return mark;
    }
    if (editSaveTarget(path, m_folderYolo).existing)
        return mark;
    const SaveTarget target = editSaveTarget(path, newFileYoloIn(QFileInfo(path).absolutePath()));
    if (!saveEdit(path, {}, target, m_classNames, &r))
        return mark;
    mark.file = r.labelFile;
    mark.stamp = FileStamp::of(mark.file);
    m_imageStates[path].labelFile = true;
    refreshImageState(path);
    return mark;
}

bool FolderSession::unmarkChecked(const QString &path, const CheckedMark &mark)
{
    // Only our own empty file, as we left it: anything written since is somebody's labels.
    if (mark.file.isEmpty() || findLabelFile(path).path != mark.file || !mark.stamp.isCurrent())
        return false;
    const QString root = datasetRootOfImageFolder(QFileInfo(path).absolutePath());
    if (!removalStaysInside(mark.file, root) || !QFile::remove(mark.file))
        return false;
    m_imageStates[path].labelFile = false;
    refreshImageState(path);
    return true;
}

void FolderSession::noticeNamesFile(const NamesFileNotice &notice)
{
    // Once per names file and session: the user learns it, repeating it on every save would nag.
    if (notice.isEmpty() || m_namesNoticesShown.contains(notice.namesFile))
        return;
    m_namesNoticesShown.insert(notice.namesFile);
    emit this->notice(translateText("新类别 %1 已写入 %2，请同时把它加入 %3")
                          .arg(notice.missingNames.join(QStringLiteral(", ")),
                               QDir::toNativeSeparators(notice.classListFile),
                               QDir::toNativeSeparators(notice.namesFile)));
}

AnnotationCache FolderSession::pendingSnapshot() const
{
    // Images whose results were never merged keep the records read from the file.
    AnnotationCache all = m_pendingFromFile;
    for (auto it = m_cache.cbegin(); it != m_cache.cend(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

void FolderSession::capturePending()
{
    if (m_currentImage.isEmpty() || !m_live)
        return;
    const QList<Annotation> annotations = m_live->annotations();
    m_cache.insert(m_currentImage, annotations);
    const QList<Annotation> pending = pendingRecords(annotations);
    if (pending != m_flushedPending) {
        m_flushedPending = pending;
        m_pendingChanged = true;
    }
}

bool FolderSession::flushPending(bool inBackground)
{
    // A write still on its way must not land after this one, and its merge is taken in first.
    if (!inBackground)
        m_pendingWriter->waitForIdle();
    capturePending();
    if (m_dir.isEmpty() || !m_pendingChanged)
        return true;
    // Before the file has been read, writing it would drop the results it holds; a file that
    // cannot be read is never overwritten.
    if (!m_pendingLoaded)
        return true;
    if (!m_pendingWritable)
        return false;
    if (inBackground) {
        // With a write on its way, this one follows when it is back.
        if (!m_syncInFlight)
            startSync(true);
        return true;
    }
    // Read, merge and write under the lock, so that what another program wrote meanwhile stays.
    const PendingSync sync = syncPendingFile(m_dir, m_pendingBase, pendingSnapshot());
    if (sync.ok)
        m_pendingChanged = false;
    applySync(sync);
    emit pendingWritten(sync.ok);
    return sync.ok;
}

void FolderSession::startSync(bool write)
{
    m_syncInFlight = true;
    m_syncWrites = write;
    m_pendingWriter->sync(m_dir, m_pendingBase, pendingSnapshot(), write);
    if (write)
        m_pendingChanged = false;   // set again if the write fails
}

void FolderSession::checkPendingFile()
{
    if (m_dir.isEmpty() || !m_pendingLoaded || !m_pendingWritable)
        return;
    if (m_syncInFlight) {
        m_checkTimer->start();   // the file may change again after that sync read it
        return;
    }
    // A replaced file is no longer watched under its name.
    if (m_watcher && !m_watcher->files().contains(pendingFilePath(m_dir)) && QFileInfo::exists(pendingFilePath(m_dir)))
        m_watcher->addPath(pendingFilePath(m_dir));
    if (FileStamp::of(pendingFilePath(m_dir)) == m_pendingBase.stamp)
        return;   // our own write, or nothing new
    capturePending();
    // Changes of ours go along when there are any; otherwise the file is only read.
    startSync(m_pendingChanged);
}

void FolderSession::onSynced(const QString &dir, const PendingSync &sync)
{
    if (dir != m_dir || !m_syncInFlight)
        return;   // a folder the user has left
    m_syncInFlight = false;
    const bool wrote = m_syncWrites;
    if (wrote && !sync.ok)
        m_pendingChanged = true;   // the next flush tries again
    applySync(sync);
    if (wrote)
        emit pendingWritten(sync.ok);
    // Changes made while the write was on its way.
    if (m_pendingChanged)
        m_throttle->markChanged();
}

void FolderSession::applySync(const PendingSync &sync)
{
    m_pendingBase = sync.state;
    QSet<QString> touched;
    for (auto it = sync.removed.cbegin(); it != sync.removed.cend(); ++it) {
        // The editor's shapes are the user's to decide; they stay on screen.
        if (it.key() == m_currentImage && m_live)
            continue;
        touched.insert(it.key());
        if (const auto cached = m_cache.find(it.key()); cached != m_cache.end()) {
            removeStored(*cached, it.value());
        } else if (const auto fromFile = m_pendingFromFile.find(it.key()); fromFile != m_pendingFromFile.end()) {
            removeStored(*fromFile, it.value());
            if (fromFile->isEmpty())
                m_pendingFromFile.erase(fromFile);
        }
    }
    for (auto it = sync.added.cbegin(); it != sync.added.cend(); ++it) {
        touched.insert(it.key());
        if (it.key() == m_currentImage && m_live) {
            // Joins the editor without an undo step; the next flush must not count it as ours.
            m_flushedPending += it.value();
            emit currentResultsArrived(it.value());
            m_cache.insert(it.key(), m_live->annotations());
        } else if (const auto cached = m_cache.find(it.key()); cached != m_cache.end()) {
            *cached += it.value();
        } else {
            m_pendingFromFile[it.key()] += it.value();
        }
    }
    for (const QString &path : std::as_const(touched))
        refreshImageState(path);
}

void FolderSession::refreshImageState(const QString &path)
{
    if (path.isEmpty())
        return;
    ImageState state = m_imageStates.value(path);
    if (path == m_currentImage && m_live) {
        state.confirmed = m_live->confirmedCount();
        state.pending = m_live->pendingCount();
    } else if (const auto cached = m_cache.constFind(path); cached != m_cache.constEnd()) {
        state.confirmed = 0;
        state.pending = 0;
        for (const Annotation &a : *cached)
            ++(a.pending ? state.pending : state.confirmed);
    } else if (const auto fromFile = m_pendingFromFile.constFind(path); fromFile != m_pendingFromFile.constEnd()) {
        // The confirmed count comes from the state scanner.
        state.pending = int(fromFile->size());
    } else {
        return;
    }
    state.known = true;
    m_imageStates.insert(path, state);
    emit imageStateChanged(path, state);
}

void FolderSession::setFailed(const QString &path, bool failed)
{
    if (QFileInfo(path).absolutePath() != m_dir)
        return;   // an image of a folder that is no longer open
    ImageState &state = m_imageStates[path];
    state.failed = failed;
    emit imageStateChanged(path, state);
}

FolderSession::MergeOutcome FolderSession::mergeResults(const QString &path, const QList<Annotation> &results)
{
    MergeOutcome out;
    const bool inFolder = QFileInfo(path).absolutePath() == m_dir;
    CacheMergeResult merged;
    if (inFolder) {
        m_imageStates[path].failed = false;
        annotationsFor(path);   // the cache entry, with the image's records from the pending file
        merged = mergeIntoCache(m_cache, path, results, newFileYolo(), m_classNames);
    } else {
        merged = storeInFolderFiles(path, results, newFileYoloIn(QFileInfo(path).absolutePath()), m_classNames);
    }
    out.kept = merged.kept;
    out.dropped = merged.dropped;
    out.saveFailed = merged.writeFailed;
    out.labelsUnreadable = merged.labelsUnreadable;
    out.unreadableNamesFile = merged.unreadableNamesFile;
    emit labelsUsed(labelsOf(merged.kept));
    if (inFolder && merged.labelsWritten)
        m_imageStates[path].labelFile = true;
    if (inFolder) {
        if (anyPending(merged.kept)) {
            // Written every few seconds during a run: a crash loses only the last results.
            m_pendingChanged = true;
            m_throttle->markChanged();
        }
        refreshImageState(path);
    }
    return out;
}

FolderSession::Removal FolderSession::deleteImage(const QString &path)
{
    Removal removal;
    const qsizetype i = indexOf(path);
    if (m_imagePaths.size() > 1 && i >= 0) {
        const QString candidate = m_imagePaths.at(i + 1 < m_imagePaths.size() ? i + 1 : i - 1);
        if (candidate != path)
            removal.successor = candidate;
    }
    if (!QFile::moveToTrash(path))
        return removal;
    moveLabelFilesToTrash(path);
    removal.removed = true;
    removal.wasCurrent = path == m_currentImage;

    m_imagePaths.removeAll(path);
    const bool hadPending = !pendingRecords(m_cache.value(path)).isEmpty() || m_pendingFromFile.contains(path)
        || (removal.wasCurrent && m_live && m_live->pendingCount() > 0);
    m_cache.remove(path);
    m_pendingFromFile.remove(path);
    m_imageStates.remove(path);
    m_damagedFiles.remove(path);
    m_unreadableNames.remove(path);
    if (hadPending)
        m_pendingChanged = true;
    if (removal.wasCurrent)
        leaveImage();
    flushPending();
    return removal;
}

FolderSession::ConversionSummary FolderSession::convertFolder(bool toYolo)
{
    ConversionSummary summary;
    for (const QString &path : std::as_const(m_imagePaths)) {
        const LabelConversion done = convertLabelFile(path, toYolo, m_classNames);
        if (done.outcome == LabelConversion::Converted)
            ++summary.converted;
        else if (done.outcome == LabelConversion::NoLabels)
            ++summary.withoutLabels;
        else
            summary.failed.append(path);
    }
    setUseYolo(toYolo);
    return summary;
}

QStringList FolderSession::unlabelledImages() const
{
    QStringList paths;
    for (const QString &path : m_imagePaths) {
        const ImageState state = m_imageStates.value(path);
        // A background image (an empty label file) has been checked: it is not unlabelled.
        const bool unlabelled = state.known ? state.confirmed == 0 && !state.labelFile
                                            : (m_cache.contains(path) ? !state.labelFile : countAnnotations(path) < 0);
        if (unlabelled)
            paths.append(path);
    }
    return paths;
}

QStringList FolderSession::labelledImages() const
{
    // The counts the file list shows, from disk where none is known yet.
    QStringList paths;
    for (const QString &path : m_imagePaths) {
        const ImageState state = m_imageStates.value(path);
        const int count = state.known && path != m_currentImage && !m_cache.contains(path) ? state.confirmed
                                                                                          : countAnnotations(path);
        if (count > 0)
            paths.append(path);
    }
    return paths;
}
