#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "ui/categoryhistory.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/timinglog.h"
#include "ui/toastwidget.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUndoStack>
#include <QWindow>

void MainWindow::showImage(const QString &path)
{
    if (m_loadingImage || path.isEmpty() || path == m_currentImagePath)
        return;
    logTiming(QStringLiteral("image requested ") + path);
    if (m_dirty && !saveCurrent()) {
        m_fileList->selectPath(m_currentImagePath, true);
        return;
    }
    flushPending();

    const QSize fitArea = canvasFitArea();
    DecodedImage decoded = m_prefetcher->cached(path, fitArea);
    if (decoded.isNull())
        decoded = decodeImage(path, fitArea);
    if (decoded.isNull()) {
        m_toast->showMessage(translateText("图片解码失败：%1").arg(QFileInfo(path).fileName()));
        m_fileList->selectPath(m_currentImagePath, true);
        return;
    }
    installImage(path, decoded);
}

void MainWindow::installImage(const QString &path, const DecodedImage &decoded)
{
    m_loadingImage = true;
    if (!m_currentImagePath.isEmpty())
        m_previousImagePath = m_currentImagePath;
    m_currentImagePath = path;
    m_current = decoded;
    m_fullResolutionRequested.clear();
    const QList<Annotation> annotations = annotationsFor(path);
    m_view->setImage(decoded.image, decoded.fullSize);
    m_scene->setAnnotations(annotations);
    m_undoStack->clear();
    m_dirty = false;
    m_loadingImage = false;

    m_flushedPending = pendingRecords(annotations);

    m_fileList->selectPath(path, true);
    updateTitle();
    updateSavedIndicator();
    updateEmptyState();
    refreshPanels();
    watchForPaint(path);
    m_prefetcher->insert(decoded);
    // After this image is painted: the decoding of its neighbours must not delay it.
    QTimer::singleShot(0, this, &MainWindow::prefetchNeighbours);

    const QString damaged = m_damagedFiles.value(path);
    if (!damaged.isEmpty()) {
        const QString name = QDir::toNativeSeparators(damaged);
        if (QFileInfo(damaged).fileName() == u"classes.txt")
            m_toast->showMessage(translateText("无法读取类别文件，类别暂以编号显示，此图片不能保存：%1").arg(name));
        else
            m_toast->showMessage(translateText("标注文件已损坏，只读出了一部分；保存时原文件会先移入回收站：%1").arg(name));
    }
}

QList<Annotation> MainWindow::annotationsFor(const QString &path)
{
    const auto cached = m_annotationCache.constFind(path);
    if (cached != m_annotationCache.constEnd())
        return *cached;
    const StoredAnnotations stored = readStoredAnnotations(path);
    if (!stored.complete())
        m_damagedFiles.insert(path, stored.damagedFile);
    // Categories found in label files join the history, stored once.
    QStringList labels;
    for (const Annotation &a : stored.annotations)
        labels.append(a.label);
    m_categories->rememberAll(labels);
    QList<Annotation> list = stored.annotations;
    list += m_pendingFromFile.take(path);
    m_annotationCache.insert(path, list);
    return list;
}

void MainWindow::forgetCurrentImage()
{
    m_loadingImage = true;
    m_currentImagePath.clear();
    m_current = DecodedImage();
    m_fullResolutionRequested.clear();
    m_flushedPending.clear();
    m_undoStack->clear();
    m_dirty = false;
    m_view->clear();
    m_scene->clear();
    m_loadingImage = false;
}

qsizetype MainWindow::indexOfImage(const QString &path) const
{
    // Steps move one place: look next to the last answer before searching ten thousand paths.
    for (qsizetype i = m_indexHint - 1; i <= m_indexHint + 1; ++i) {
        if (i >= 0 && i < m_imagePaths.size() && m_imagePaths.at(i) == path)
            return m_indexHint = i;
    }
    return m_indexHint = m_imagePaths.indexOf(path);
}

void MainWindow::stepImage(int step)
{
    const qsizetype n = m_imagePaths.size();
    if (n == 0 || step == 0)
        return;
    const qsizetype c = std::max<qsizetype>(0, indexOfImage(m_currentImagePath));
    for (qsizetype i = 1; i <= n; ++i) {
        const qsizetype index = ((c + i * step) % n + n) % n;
        const QString &candidate = m_imagePaths.at(index);
        if (m_fileList->isShown(candidate)) {
            showImage(candidate);
            return;
        }
    }
}

QSize MainWindow::canvasFitArea() const
{
    // The view keeps 40 pixels around a fitted image. Its whole size, not the viewport's, so that
    // scroll bars coming and going do not make the decoded neighbours look too small.
    const double dpr = devicePixelRatioF();
    QSize area = m_view->size() - QSize(80, 80);
    if (!m_view->isVisible() || area.width() < 100 || area.height() < 100)
        area = QSize(1600, 1000);
    return QSize(int(area.width() * dpr), int(area.height() * dpr));
}

void MainWindow::prefetchNeighbours()
{
    const qsizetype n = m_imagePaths.size();
    const qsizetype c = indexOfImage(m_currentImagePath);
    if (n < 2 || c < 0)
        return;
    // The images a step would show: next, previous, and the one after next.
    QStringList wanted;
    auto nextShown = [&](qsizetype from, int step) -> qsizetype {
        for (qsizetype i = 1; i < n; ++i) {
            const qsizetype index = ((from + i * step) % n + n) % n;
            if (m_fileList->isShown(m_imagePaths.at(index)))
                return index;
        }
        return -1;
    };
    const qsizetype next = nextShown(c, 1);
    const qsizetype previous = nextShown(c, -1);
    if (next >= 0)
        wanted.append(m_imagePaths.at(next));
    if (previous >= 0 && previous != next)
        wanted.append(m_imagePaths.at(previous));
    if (next >= 0) {
        const qsizetype afterNext = nextShown(next, 1);
        if (afterNext >= 0 && afterNext != c && !wanted.contains(m_imagePaths.at(afterNext)))
            wanted.append(m_imagePaths.at(afterNext));
    }
    // The image shown stays held so that stepping back to it is instant.
    m_prefetcher->prefetch(QStringList{m_currentImagePath} + wanted, canvasFitArea());
}

void MainWindow::watchForPaint(const QString &path)
{
    if (!timingEnabled())
        return;
    m_paintWatchPath = path;
    m_view->viewport()->update();
}

void MainWindow::onZoomChanged()
{
    if (m_currentImagePath.isEmpty() || m_fullResolutionRequested == m_currentImagePath)
        return;
    if (needsMoreResolution(m_current, m_view->zoomFactor(), devicePixelRatioF())) {
        m_fullResolutionRequested = m_currentImagePath;
        m_prefetcher->requestFullResolution(m_currentImagePath);
    }
}

void MainWindow::onFullResolution(const DecodedImage &image)
{
    if (image.path != m_currentImagePath || image.fullSize != m_current.fullSize)
        return;
    m_current = image;
    m_view->replaceImagePixels(image.image);
}
