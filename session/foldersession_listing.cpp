// FolderSession: opening a folder, its listing and the first image shown, and the reads that
// follow it (state scan, pending file).
#include "session/foldersession.h"

#include "session/datasetcategories.h"
#include "session/labelfilestamps.h"
#include "session/pendingresults.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "storage/dotafile.h"
#include "storage/filestatescanner.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <utility>

namespace {

// An image the listing of dir would take: directly in it, not hidden, a readable regular file.
bool isListableImageIn(const QString &dir, const QString &path)
{
    const QFileInfo info(path);
    return QDir::cleanPath(info.absolutePath()) == dir && isImageFile(path) && !info.fileName().startsWith(QLatin1Char('.'))
        && info.isFile() && info.isReadable();
}

const unsigned long kWorkerStopWaitMs = 3000;
// Rows whose pending count is reported per event-loop pass after the pending file arrives.
const int kStatesPerPass = 400;

} // namespace

void FolderSession::holdBackgroundReads(bool hold)
{
    m_holdBackground = hold;
    m_pending->holdLargeRead(hold);
    if (!hold && m_scanHeld) {
        m_scanHeld = false;
        m_stateScanner->restart(m_imagePaths);
    }
}

void FolderSession::preload(const QString &dir)
{
    m_pending->preload(dir);
}

void FolderSession::prelist(const QString &dir)
{
    m_opening.prelisted = dir;
    m_directoryLoader->load(dir);
}

void FolderSession::setWatchingPendingFile(bool watching)
{
    m_pending->setWatching(watching);
}

void FolderSession::checkPendingFile()
{
    m_pending->check();
}

void FolderSession::setWatchingLabelFiles(bool watching)
{
    m_labelStamps->setWatching(watching);
}

void FolderSession::resetFolder(const QString &dir)
{
    if (!m_dir.isEmpty()) {
        flushPending();
        if (m_formatDecided)
            m_folderFormats.insert(m_dir, m_folderFormat);   // for results that still arrive for it
    }
    m_dir = dir;
    m_categories->openFolder(dir);
    // A DOTA folder's new label files are DOTA whatever was chosen.
    const bool dota = isDotaImageFolder(dir);
    m_formatDecided = dota;
    const LabelFormat format = dota ? LabelFormat::Dota : m_fallbackFormat;
    m_categories->setLabelmeFolder(format == LabelFormat::Labelme);
    if (m_folderFormat != format) {
        m_folderFormat = format;
        emit folderFormatChanged(m_folderFormat);
    }
    m_folderFormats.remove(dir);
    m_listing = true;
    m_opening.prelisted.clear();
    m_scanHeld = false;
    m_opening.firstFound.clear();
    m_imagePaths.clear();
    m_unlistable.clear();
    m_cache.clear();
    m_imageStates.clear();
    m_fileNotes.clear();
    m_labelStamps->clear();
    m_stateQueue.clear();
    m_indexHint = 0;
    leaveImage();
    m_pending->reset(dir);
}

void FolderSession::open(const QString &dir, const QString &preferredImage)
{
    // Its chunks wait in the event queue until now, unless one was handled (and dropped) before.
    const bool prelisted = std::exchange(m_opening.prelisted, QString()) == dir;
    resetFolder(dir);
    m_opening.preferred = preferredImage;
    if (!prelisted)
        m_directoryLoader->load(dir);
    m_pending->load(true);
    // The image last shown here need not wait for the listing; queued, as the caller is not done.
    if (!preferredImage.isEmpty())
        QTimer::singleShot(0, this, [this, dir] {
            if (dir == m_dir)
                wantFirstImage();
        });
}

void FolderSession::openNow(const QString &dir)
{
    resetFolder(dir);
    m_opening.preferred.clear();
    QStringList unlistable;
    m_imagePaths = DirectoryLoader::listImages(dir, &unlistable);
    m_listing = false;
    noticeUnlistable(dir, unlistable);
    m_pending->load(false);
}

bool FolderSession::close()
{
    m_directoryLoader->requestStop();
    m_stateScanner->requestStop();
    m_directoryLoader->wait(kWorkerStopWaitMs);
    m_stateScanner->wait(kWorkerStopWaitMs);
    m_pending->waitForLoader(kWorkerStopWaitMs);
    return flushPending();
}

void FolderSession::onChunkReady(const QString &dir, const QStringList &paths)
{
    if (dir != m_dir) {
        if (dir == m_opening.prelisted)
            m_opening.prelisted.clear();   // came before its open(): that one lists again
        return;   // a chunk of a folder the user has left
    }
    m_imagePaths += paths;
    emit pathsListed(paths);
    wantFirstImage();
}

void FolderSession::onListingDone(const QString &dir, const QStringList &paths)
{
    if (dir != m_dir) {
        if (dir == m_opening.prelisted)
            m_opening.prelisted.clear();
        return;
    }
    logTiming(QStringLiteral("listing done %1 images").arg(paths.size()));
    m_listing = false;
    m_imagePaths = paths;
    emit listingFinished(paths);
    if (m_holdBackground)
        m_scanHeld = true;   // it would take a core from the first image
    else
        m_stateScanner->restart(paths);
    if (m_pending->isLoaded()) {
        dropUnlisted();
        schedulePendingStates();
    }
    wantFirstImage();
}

void FolderSession::onPendingLoaded()
{
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
    m_pending->dropUnlisted(m_imagePaths);
}

void FolderSession::schedulePendingStates()
{
    // Ten thousand rows updated at once would hold up the first image and the first steps.
    m_stateQueue = m_pending->unmergedImages();
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
    if (!m_currentImage.isEmpty() || m_pending->firstImageWaits())
        return;
    if (!m_opening.preferred.isEmpty()) {
        // Shown before its place in the folder is known; it takes it when listed. Gone, the
        // folder opens at its first image.
        const QString preferred = std::exchange(m_opening.preferred, QString());
        if (m_imagePaths.contains(preferred) || (m_listing && isListableImageIn(m_dir, preferred))) {
            emit imageWanted(preferred);
            return;
        }
    }
    if (!m_imagePaths.isEmpty())
        emit imageWanted(m_imagePaths.first());
    else if (m_listing && !m_opening.firstFound.isEmpty())
        emit imageWanted(m_opening.firstFound);   // the listing's first, ahead of its chunks
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
    state.pending = m_pending->unmergedCount(path);
    state.known = true;
    emit imageStateChanged(path, state);
}
