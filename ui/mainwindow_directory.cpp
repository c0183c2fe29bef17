#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "storage/filestatescanner.h"
#include "storage/pendingfileloader.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/timinglog.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <QUndoStack>

void MainWindow::openDirectory(const QString &path)
{
    QString dir = path;
    if (dir.isEmpty()) {
        dir = QFileDialog::getExistingDirectory(this, translateText("打开图片目录"), WindowSettings::lastDirectory(),
                                                QFileDialog::ShowDirsOnly);
        if (dir.isEmpty()) {
            m_preferredImage.clear();
            return;
        }
    }
    dir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());

    // Unsaved edits are saved as on any switch; a failed save keeps the user where they are.
    if (m_dirty && !saveCurrent()) {
        m_preferredImage.clear();
        return;
    }
    if (!m_currentDir.isEmpty())
        flushPending();

    WindowSettings::rememberDirectory(dir);
    rebuildRecentMenu();

    m_currentDir = dir;
    m_loadingDirectory = true;
    m_imagePaths.clear();
    m_listedDir.clear();
    m_annotationCache.clear();
    m_imageStates.clear();
    m_damagedFiles.clear();
    m_previousImagePath.clear();
    m_pendingFromFile.clear();
    m_pendingLoaded = false;
    m_pendingWritable = true;
    m_pendingChanged = false;
    m_pendingStateQueue.clear();
    m_prefetcher->clear();
    forgetCurrentImage();

    m_fileList->setDirectory(QFileInfo(dir).fileName());
    m_fileList->beginLoading();
    updateTitle();
    updateEmptyState();
    updateSavedIndicator();
    refreshPanels();

    m_directoryLoader->load(dir);
    m_pendingLoader->load(dir);
}

void MainWindow::openImageFolder(const QString &imagePath)
{
    m_preferredImage = imagePath;
    openDirectory(QFileInfo(imagePath).absolutePath());
}

void MainWindow::onChunkReady(const QString &dir, const QStringList &paths)
{
    if (dir != m_currentDir)
        return;   // a chunk of a directory the user has left
    m_imagePaths += paths;
    m_fileList->appendPaths(paths);
    showFirstImageWhenReady();
}

void MainWindow::onListingDone(const QString &dir, const QStringList &paths)
{
    if (dir != m_currentDir)
        return;
    logTiming(QStringLiteral("listing done %1 images").arg(paths.size()));
    m_loadingDirectory = false;
    m_imagePaths = paths;
    m_listedDir = dir;
    m_fileList->setDirectory(QFileInfo(dir).fileName());
    m_fileList->updateCounts();

    m_stateScanner->restart(paths);
    m_fileList->requestThumbnails(paths);

    if (m_pendingLoaded) {
        // Results of images no longer in the folder are not loaded; the next write drops them.
        const QSet<QString> listed(paths.cbegin(), paths.cend());
        for (auto it = m_pendingFromFile.begin(); it != m_pendingFromFile.end();) {
            if (!listed.contains(it.key()))
                it = m_pendingFromFile.erase(it);
            else
                ++it;
        }
        schedulePendingStates();
    }

    updateTitle();
    updateEmptyState();
    refreshPanels();
    if (m_currentImagePath.isEmpty() && m_preferredImage.isEmpty() && !paths.isEmpty() && m_pendingLoaded)
        showImage(paths.first());
    else
        showFirstImageWhenReady();
}

void MainWindow::onPendingLoaded(const QString &dir, const AnnotationCache &pending, bool readable)
{
    if (dir != m_currentDir)
        return;
    logTiming(QStringLiteral("pending results read %1 images").arg(pending.size()));
    m_pendingLoaded = true;
    m_pendingWritable = readable;
    if (!readable)
        m_toast->showMessage(translateText("无法读取待确认结果文件，本次不会改写它：%1")
                                 .arg(QDir::toNativeSeparators(pendingFilePath(dir))));
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        // An image shown before the file arrived has a list already: the file's records join it.
        if (it.key() == m_currentImagePath) {
            m_loadingImage = true;
            for (const Annotation &a : it.value())
                m_scene->applyState(uint(m_scene->allocateId()), a);
            m_loadingImage = false;
            m_annotationCache.insert(it.key(), m_scene->annotations());
            m_flushedPending = pendingRecords(m_scene->annotations());
            refreshPanels();
        } else if (m_annotationCache.contains(it.key())) {
            m_annotationCache[it.key()] += it.value();
        } else {
            m_pendingFromFile.insert(it.key(), it.value());
        }
    }
    if (!m_loadingDirectory) {
        const QSet<QString> listed(m_imagePaths.cbegin(), m_imagePaths.cend());
        for (auto it = m_pendingFromFile.begin(); it != m_pendingFromFile.end();) {
            if (!listed.contains(it.key()))
                it = m_pendingFromFile.erase(it);
            else
                ++it;
        }
    }
    showFirstImageWhenReady();
    schedulePendingStates();
}

void MainWindow::schedulePendingStates()
{
    // Ten thousand rows updated at once would hold up the first image and the first steps.
    m_pendingStateQueue = m_pendingFromFile.keys();
    if (!m_pendingStateQueue.isEmpty())
        m_pendingStateTimer->start();
}

void MainWindow::refreshSomePendingStates()
{
    for (int i = 0; i < 400 && !m_pendingStateQueue.isEmpty(); ++i)
        refreshImageState(m_pendingStateQueue.takeLast());
    if (!m_pendingStateQueue.isEmpty())
        m_pendingStateTimer->start();
}

void MainWindow::showFirstImageWhenReady()
{
    // The first image needs its pending results from the file before it can be shown.
    if (!m_currentImagePath.isEmpty() || m_imagePaths.isEmpty() || !m_pendingLoaded)
        return;
    QString first = m_imagePaths.first();
    if (!m_preferredImage.isEmpty()) {
        if (m_imagePaths.contains(m_preferredImage))
            first = m_preferredImage;
        else if (m_loadingDirectory)
            return;   // it may come with a later chunk
        m_preferredImage.clear();
    }
    showImage(first);
}

void MainWindow::onStateReady(const QString &path, int confirmed)
{
    if (path == m_currentImagePath)
        return;
    const auto cached = m_annotationCache.constFind(path);
    if (cached != m_annotationCache.constEnd() && !cached->isEmpty()) {
        refreshImageState(path);
        return;
    }
    ImageState &state = m_imageStates[path];
    state.confirmed = confirmed;
    state.pending = int(m_pendingFromFile.value(path).size());
    state.known = true;
    m_fileList->setFileState(path, state.confirmed, state.pending, state.failed);
}
