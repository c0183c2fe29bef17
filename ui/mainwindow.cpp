#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "storage/filestatescanner.h"
#include "storage/imagelibrary.h"
#include "storage/pendingfileloader.h"
#include "storage/pendingfilewriter.h"
#include "checker/labelchecker.h"
#include "inference/pendingwritethrottle.h"
#include "ui/aboutbox.h"
#include "ui/checkresultdialog.h"
#include "ui/categoryhistory.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/inputtimingprobe.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/progressoverlay.h"
#include "ui/shortcutdialog.h"
#include "ui/timinglog.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("vline"));
    line->setFixedWidth(1);
    return line;
}

} // namespace

MainWindow::MainWindow(const QString &initialPath, QWidget *parent)
    : QMainWindow(parent)
    , m_initialPath(initialPath)
{
    registerAnnotationMetaTypes();
    registerLabelIssueMetaType();
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1E, 0x21, 0x28));
    setPalette(pal);
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.ico")));
    setAcceptDrops(true);
    setMinimumSize(1100, 700);

    m_client = new VllmClient(this);
    m_undoStack = new QUndoStack(this);

    const WindowSettings::Values settings = WindowSettings::load();
    m_categories = new CategoryHistory(settings.labels, this);
    m_useYolo = settings.useYolo;
    m_serverConfig = settings.server;
    m_client->setServerConfig(m_serverConfig);

    m_directoryLoader = new DirectoryLoader(this);
    m_stateScanner = new FileStateScanner(this);
    m_pendingLoader = new PendingFileLoader(this);
    connect(m_pendingLoader, &PendingFileLoader::loaded, this, &MainWindow::onPendingLoaded);
    // The folder's pending results are parsed while the window is built.
    const QString startDir = startDirectory();
    if (!startDir.isEmpty())
        m_pendingLoader->preload(startDir);
    m_prefetcher = new ImagePrefetcher(this);
    m_pendingThrottle = new PendingWriteThrottle(this);
    m_pendingWriter = new PendingFileWriter(this);
    connect(m_pendingThrottle, &PendingWriteThrottle::writeRequested, this, [this] { flushPending(true); });
    connect(m_pendingWriter, &PendingFileWriter::written, this, [this](const QString &dir, bool ok) {
        if (!ok && dir == m_currentDir)
            m_pendingChanged = true;   // the next flush tries again
    });
    m_pendingStateTimer = new QTimer(this);
    m_pendingStateTimer->setSingleShot(true);
    m_pendingStateTimer->setInterval(0);
    connect(m_pendingStateTimer, &QTimer::timeout, this, &MainWindow::refreshSomePendingStates);

    buildCentralWidget();
    m_status = new MainStatusBar(statusBar());
    m_scene->setMode(AnnotationScene::RectMode);   // a fresh window starts drawing boxes
    buildActions();

    m_escapeAction = new QAction(this);
    m_escapeAction->setShortcut(QKeySequence(Qt::Key_Escape));
    m_escapeAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_escapeAction);

    const QByteArray geometry = WindowSettings::geometry();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    else
        resize(1280, 800);

    connectSignals();
    m_client->probeServer();
    if (timingEnabled()) {
        new InputTimingProbe(this, m_view->viewport(), [this] {
            return QStringLiteral("sel=%1 undo=%2").arg(m_scene->selectedId()).arg(m_undoStack->index());
        }, this);
    }

    m_status->setModelChecking();
    m_status->setUseYolo(m_useYolo);
    updateEmptyState();
    updateSavedIndicator();
    refreshStatus();
    updateTitle();

    // The listing starts now, on its threads, while the window is still being shown: the first
    // chunk is ready when the event loop starts.
    const QString start = m_initialPath.isEmpty() ? WindowSettings::lastDirectory() : m_initialPath;
    if (!startDir.isEmpty()) {
        // An image opens its folder and is shown first.
        if (QFileInfo(start).isFile())
            openImageFolder(QFileInfo(start).absoluteFilePath());
        else
            openDirectory(startDir);
    }
}

QString MainWindow::startDirectory() const
{
    const QString start = m_initialPath.isEmpty() ? WindowSettings::lastDirectory() : m_initialPath;
    if (start.isEmpty())
        return {};
    const QFileInfo info(start);
    if (info.isFile() && ImageLibrary::isImageFile(start))
        return QDir::cleanPath(info.absolutePath());
    if (info.isDir())
        return QDir::cleanPath(info.absoluteFilePath());
    return {};
}

MainWindow::~MainWindow() = default;

void MainWindow::buildCentralWidget()
{
    m_scene = new AnnotationScene(this);
    m_canvasHost = new QWidget(this);
    auto *grid = new QGridLayout(m_canvasHost);
    grid->setContentsMargins(0, 0, 0, 0);
    m_view = new CanvasView(m_scene, m_canvasHost);
    grid->addWidget(m_view, 0, 0);
    m_canvasHost->installEventFilter(this);
    m_view->viewport()->installEventFilter(this);

    m_fileList = new FileListPanel(this);
    m_objectPanel = new ObjectListPanel(this);

    auto *central = new QWidget(this);
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_fileList);
    row->addWidget(separator(central));
    row->addWidget(m_canvasHost, 1);
    row->addWidget(separator(central));
    row->addWidget(m_objectPanel);
    outer->addLayout(row);
    setCentralWidget(central);

    m_progress = new ProgressOverlay(m_canvasHost);
    m_toast = new ToastWidget(m_canvasHost);

    m_hint = new QLabel(m_canvasHost);
    m_hint->setStyleSheet(QStringLiteral("color:#9AA3B2; font-size:11.5px; background:rgba(0,0,0,102);"
                                         "padding:3px 9px; border-radius:5px;"));
    m_hint->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_emptyState = new EmptyState(m_canvasHost);
    connect(m_emptyState, &EmptyState::openDirectoryRequested, this, [this] { openDirectory(QString()); });
    retranslateWidgets();
}

void MainWindow::connectSignals()
{
    connect(m_fileList, &FileListPanel::currentPathChanged, this, [this](const QString &path) {
        if (!path.isEmpty() && !m_loadingImage)
            showImage(path);
    });
    connect(m_fileList, &FileListPanel::fileDeleteRequested, this, &MainWindow::deleteImage);
    connect(m_fileList, &FileListPanel::fileAutoLabelRequested, this, [this](const QString &path) {
        showImage(path);
        startAutoLabel(false, path == m_currentImagePath);
    });
    connect(m_fileList, &FileListPanel::thumbnailsFinished, this, [](int held) {
        logTiming(QStringLiteral("thumbnails done %1").arg(held));
    });
    connect(m_objectPanel, &ObjectListPanel::rowActivated, this, [this](uint id) {
        m_scene->selectId(id, true);
        // The arrow keys then move the shape, as after selecting it on the canvas.
        m_view->setFocus(Qt::OtherFocusReason);
    });
    connect(m_objectPanel, &ObjectListPanel::rowConfirmed, this, &MainWindow::confirmOne);
    connect(m_objectPanel, &ObjectListPanel::categoryApplied, this, &MainWindow::applyCategory);
    connect(m_objectPanel, &ObjectListPanel::categoryDeleteRequested, this, &MainWindow::deleteCategory);
    connect(m_objectPanel, &ObjectListPanel::addCategoryClicked, this, &MainWindow::addCategory);
    connect(m_objectPanel, &ObjectListPanel::categoryChosen, this, [this](const QString &label) {
        m_categories->setLastLabel(label);
    });

    connect(m_scene, &AnnotationScene::annotationsChanged, this, &MainWindow::markDirty);
    connect(m_scene, &AnnotationScene::selectedIdChanged, this, [this] {
        if (!m_loadingImage)
            refreshObjects();
    });
    // Queued: the label dialog and the menu run their own event loops, not inside a mouse handler.
    connect(m_scene, &AnnotationScene::shapeDrafted, this, &MainWindow::addDrafted, Qt::QueuedConnection);
    connect(m_scene, &AnnotationScene::itemContextRequested, this,
            [this](uint id, const QPoint &globalPos) { showAnnotationMenu(id, globalPos); }, Qt::QueuedConnection);
    connect(m_scene, &AnnotationScene::annotationEdited, this, &MainWindow::onAnnotationEdited);
    connect(m_scene, &AnnotationScene::annotationNudged, this, &MainWindow::onAnnotationNudged);
    connect(m_scene, &AnnotationScene::confirmRequested, this, &MainWindow::confirmOne);
    connect(m_escapeAction, &QAction::triggered, this, &MainWindow::escapeAction);
    connect(m_categories, &CategoryHistory::changed, this, &MainWindow::refreshCategories);
    connect(m_scene, &AnnotationScene::statusHint, this, [this](const QString &text) {
        if (text.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(text);
    });
    connect(m_view, &CanvasView::zoomChanged, m_status, &MainStatusBar::setZoom);
    connect(m_view, &CanvasView::zoomChanged, this, &MainWindow::onZoomChanged);
    connect(m_view, &CanvasView::cursorMoved, m_status, &MainStatusBar::setCursorPixel);
    connect(m_view, &CanvasView::viewScaleChanged, m_scene, &AnnotationScene::setViewScale);
    connect(m_status, &MainStatusBar::formatChanged, this, &MainWindow::setUseYolo);

    connect(m_directoryLoader, &DirectoryLoader::chunkReady, this, &MainWindow::onChunkReady);
    connect(m_directoryLoader, &DirectoryLoader::done, this, &MainWindow::onListingDone);
    connect(m_stateScanner, &FileStateScanner::stateReady, this, &MainWindow::onStateReady);
    connect(m_prefetcher, &ImagePrefetcher::fullResolutionReady, this, &MainWindow::onFullResolution);

    connect(m_progress, &ProgressOverlay::pauseToggled, this, [this](bool paused) {
        if (paused)
            m_client->pause();
        else
            m_client->resume();
    });
    connect(m_progress, &ProgressOverlay::cancelClicked, m_client, &VllmClient::cancel);
    connect(m_client, &VllmClient::statusChanged, this, [this](bool online) {
        m_modelOnline = online;
        updateModelIndicator();
    });
    connect(m_client, &VllmClient::busyChanged, this, [this](bool busy) {
        m_inferenceBusy = busy;
        // Every image of a run may reorder the categories: they are stored once, at its end.
        m_categories->holdStores(busy);
        updateModelIndicator();
    });
    connect(m_client, &VllmClient::progress, m_progress, &ProgressOverlay::setProgress);
    // While the checker compares with the model, the client's results are the checker's.
    connect(m_client, &VllmClient::imageFinished, this,
            [this](const QString &path, const QList<Annotation> &anns, bool ok, const QString &error) {
                if (m_reviewRunning)
                    onReviewImageFinished(path, anns, ok, error);
                else
                    onImageFinished(path, anns, ok, error);
            });
    connect(m_client, &VllmClient::taskFinished, this,
            [this](int done, int total, int added, double avg, int failed, bool cancelled) {
                if (m_reviewRunning)
                    onReviewFinished(cancelled);
                else
                    onTaskFinished(done, total, added, avg, failed, cancelled);
            });
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_canvasHost && event->type() == QEvent::Resize)
        layoutCanvasOverlays();
    if (watched == m_view->viewport() && event->type() == QEvent::Paint && !m_paintWatchPath.isEmpty()) {
        // Logged once the paint is done and the events queued meanwhile have run.
        const QString path = m_paintWatchPath;
        m_paintWatchPath.clear();
        QTimer::singleShot(0, this, [path] { logTiming(QStringLiteral("image painted ") + path); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::layoutCanvasOverlays()
{
    m_emptyState->setGeometry(m_canvasHost->rect());
    m_progress->reposition();
    m_hint->adjustSize();
    m_hint->move(12, m_canvasHost->height() - m_hint->height() - 10);
    m_hint->raise();
    m_emptyState->raise();
}

void MainWindow::retranslateWidgets()
{
    m_hint->setText(translateText("滚轮缩放 · 空格+拖拽平移 · 拖框新建 · Enter 确认 ⚡框 · Esc 拒绝 · A/D 切换待确认"));
    m_emptyState->retranslate();
    layoutCanvasOverlays();
}

void MainWindow::updateTitle()
{
    setWindowTitle(m_currentDir.isEmpty() ? QStringLiteral("Brindlemark")
                                          : QStringLiteral("Brindlemark — %1").arg(m_currentDir));
    m_status->setDirectory(QDir::toNativeSeparators(m_currentDir));
}

void MainWindow::updateEmptyState()
{
    m_emptyState->setVisible(m_imagePaths.isEmpty() && !m_loadingDirectory && m_currentImagePath.isEmpty());
    if (m_emptyState->isVisible())
        m_emptyState->raise();
}

void MainWindow::refreshStatus()
{
    const QString name = m_currentImagePath.isEmpty() ? QString() : QFileInfo(m_currentImagePath).fileName();
    m_status->setImageInfo(name, m_current.fullSize, m_currentImagePath.isEmpty() ? 0 : m_scene->pendingCount());
}

void MainWindow::updateSavedIndicator()
{
    m_status->setDirty(m_dirty);
}

void MainWindow::updateModelIndicator()
{
    m_status->setModelState(m_inferenceBusy, m_modelOnline);
}

void MainWindow::refreshPanels()
{
    refreshObjects();
    refreshCategories();
    refreshStatus();
    refreshImageState(m_currentImagePath);
}

void MainWindow::refreshObjects()
{
    m_objectPanel->refreshObjects(m_scene->annotations(), m_scene->selectedId());
}

void MainWindow::refreshCategories()
{
    QHash<QString, int> counts;
    QStringList extra;
    const QStringList history = m_categories->labels();
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (a.label.isEmpty())
            continue;
        if (!counts.contains(a.label) && !history.contains(a.label))
            extra.append(a.label);
        ++counts[a.label];
    }
    m_objectPanel->refreshCategories(history + extra, counts, m_categories->lastLabel());
}

void MainWindow::markDirty()
{
    if (m_loadingImage || m_currentImagePath.isEmpty())
        return;
    m_dirty = true;
    updateSavedIndicator();
    refreshPanels();
}

void MainWindow::setUseYolo(bool yolo)
{
    m_useYolo = yolo;
    m_status->setUseYolo(yolo);
    if (m_actions.formatYolo) {
        m_actions.formatYolo->setChecked(yolo);
        m_actions.formatVoc->setChecked(!yolo);
    }
    saveSettings();
}

void MainWindow::saveSettings()
{
    WindowSettings::save({m_categories->labels(), m_useYolo, m_serverConfig});
}

void MainWindow::showAbout()
{
    showAboutBox(this);
}

void MainWindow::showShortcuts()
{
    showShortcutDialog(this);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_dirty) {
        QMessageBox box(QMessageBox::Question, translateText("退出 Brindlemark"),
                        translateText("当前图片有未保存的修改，要如何处理？"), QMessageBox::NoButton, this);
        QPushButton *saveButton = box.addButton(translateText("保存并退出"), QMessageBox::AcceptRole);
        QPushButton *discardButton = box.addButton(translateText("放弃修改"), QMessageBox::DestructiveRole);
        QPushButton *cancelButton = box.addButton(translateText("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(saveButton);
        box.setEscapeButton(cancelButton);
        box.exec();
        if (box.clickedButton() == saveButton) {
            if (!saveCurrent()) {
                event->ignore();
                return;
            }
        } else if (box.clickedButton() == discardButton) {
            m_dirty = false;
        } else {
            event->ignore();
            return;
        }
    }
    if (m_inferenceBusy || m_reviewRunning)
        m_client->cancel();
    if (m_checker && m_checker->isRunning()) {
        m_checker->requestStop();
        m_checker->wait(3000);
    }
    m_directoryLoader->requestStop();
    m_stateScanner->requestStop();
    m_directoryLoader->wait(3000);
    m_stateScanner->wait(3000);
    m_pendingLoader->wait(3000);
    m_fileList->stopThumbnails();
    flushPending();
    saveSettings();
    WindowSettings::saveGeometry(saveGeometry());
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isDir()) {
            openDirectory(info.absoluteFilePath());
            break;
        }
        if (info.isFile() && ImageLibrary::isImageFile(path)) {
            openImageFolder(info.absoluteFilePath());
            break;
        }
    }
    event->acceptProposedAction();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    updateTitle();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        QTimer::singleShot(0, this, [] { logTiming(QStringLiteral("window shown")); });
    }
}
