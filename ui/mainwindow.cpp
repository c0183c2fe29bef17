#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "canvas/labelcolor.h"
#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "session/categoryhistory.h"
#include "session/checkrun.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "storage/folderlisting.h"
#include "ui/adjustmentpopup.h"
#include "ui/annotationeditor.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imagestepper.h"
#include "ui/launchdecode.h"
#include "ui/launchgate.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"
#include "ui/windowfit.h"
#include "ui/windowsettings.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

#include <utility>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

MainWindow::MainWindow(const QString &initialPath, QWidget *parent)
    : QMainWindow(parent)
    , m_initialPath(initialPath)
{
    registerAnnotationMetaTypes();
    registerLabelIssueMetaType();
    // The window reads one image's labels at a time: a stat beats listing a huge folder.
    FolderListing::listOnThisThread(false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1E, 0x21, 0x28));
    setPalette(pal);
    m_launch = new LaunchGate(this);
    // Reading the icon loads an image plugin; the first frame has no use for it.
    m_launch->whenDone([this] { setWindowIcon(QIcon(QStringLiteral(":/icons/app.ico"))); });
    setAcceptDrops(true);
    const WindowFit fit = fitWindowTo(screen()->availableGeometry().size());
    setMinimumSize(fit.minimum);

    const WindowSettings::Values settings = WindowSettings::load();
    m_dontAskCategory = WindowSettings::dontAskCategory();
    m_serverConfig = settings.server;
    m_client = new VllmClient(this);
    m_client->setServerConfig(m_serverConfig);
    m_checkRun = new CheckRun(m_client, this);

    m_session = new FolderSession(this);
    // After the session: its listing thread, which may call it, is gone before it.
    m_launchDecode = new LaunchDecode(this);
    m_launch->whenDone([this] { m_launchDecode->close(); });
    m_lastChosenYolo = settings.useYolo;
    m_session->setFallbackYolo(settings.useYolo);
    m_session->categories()->restoreStored(settings.labels, WindowSettings::deletedLabels());
    m_session->categories()->holdDatasetStore(true);
    m_launch->whenDone([this] { m_session->categories()->holdDatasetStore(false); });
    // A small pending file is parsed while the window is built; a large one once it is shown.
    const QString startDir = startDirectory();
    m_session->holdBackgroundReads(true);
    m_launch->whenDone([this] { m_session->holdBackgroundReads(false); });
    // Its size first: the first image is decoded for the canvas it makes, while the rest is built.
    const QByteArray geometry = WindowSettings::geometry();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        // Unmaximized it still fits.
        resize(fit.size);
        if (fit.maximized)
            setWindowState(windowState() | Qt::WindowMaximized);
    }
    // An image opens its folder and is shown first; else the image last shown there.
    const QString start = m_initialPath.isEmpty() ? WindowSettings::lastDirectory() : m_initialPath;
    const QString firstImage = startDir.isEmpty()     ? QString()
                               : QFileInfo(start).isFile() ? QFileInfo(start).absoluteFilePath()
                                                           : WindowSettings::lastImageIn(startDir);
    if (!startDir.isEmpty()) {
        m_session->preload(startDir);
        beginLaunchDecode(startDir, firstImage);
    }
    buildCentralWidget();
    m_stepper = new ImageStepper(m_view, m_session, m_fileList, this);
    m_editor = new AnnotationEditor(m_scene, categories(), this);
    m_session->setLiveAnnotations(m_editor);
    m_status = new MainStatusBar(statusBar());
    m_adjustmentPopup = new AdjustmentPopup(this);
    m_scene->setMode(AnnotationScene::RectMode);   // a fresh window starts drawing boxes
    buildActions();

    // Escape is in no menu: it decides what it does from the canvas's state.
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WindowShortcut);
    addAction(escape);
    connect(escape, &QAction::triggered, this, &MainWindow::escape);

    connectSignals();
    m_launch->whenDone([this] { m_client->probeServer(); });
    m_stepper->startTimingProbe(this, [this] {
        return QStringLiteral("sel=%1 undo=%2").arg(m_scene->selectedId()).arg(m_editor->undoStack()->index());
    });

    m_status->setModelChecking();
    m_status->setFormat(m_session->folderFormat());
    updateEmptyState();
    updateSavedIndicator();
    updateCategoryIndicator();
    refreshStatus();
    updateTitle();

    // The listing starts now, on its threads, while the window is still being shown: the first
    // chunk is ready when the event loop starts.
    if (!startDir.isEmpty()) {
        openFolder(startDir, firstImage);
    } else {
        m_launch->endWhenIdle();
    }
}

void MainWindow::whenLaunched(std::function<void()> task)
{
    m_launch->whenDone(std::move(task));
}

bool MainWindow::isLaunched() const
{
    return m_launch->isDone();
}

MainWindow::~MainWindow() = default;

QString MainWindow::currentDirectory() const
{
    return m_session->directory();
}

QString MainWindow::currentImagePath() const
{
    return m_session->currentImage();
}

QSize MainWindow::currentImageSize() const
{
    return m_stepper->current().fullSize;
}

ImageAdjustment MainWindow::adjustment() const
{
    return m_stepper->adjustment();
}

bool MainWindow::isDirty() const
{
    return m_editor->isDirty();
}

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

    // The file list's handle widens it for long names; the object panel keeps its width. The
    // handles are the one-pixel lines between the three (their grab area is wider).
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("mainSplitter"));
    m_splitter->setHandleWidth(1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_fileList);
    m_splitter->addWidget(m_canvasHost);
    m_splitter->addWidget(m_objectPanel);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setStretchFactor(2, 0);
    m_splitter->handle(2)->setEnabled(false);
    m_splitter->setSizes({WindowSettings::fileListWidth(), 1000, m_objectPanel->width()});
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        if (m_fileList->isVisible())
            WindowSettings::saveFileListWidth(m_fileList->width());
    });

    auto *central = new QWidget(this);
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_splitter);
    setCentralWidget(central);

    m_progress = new ProgressOverlay(m_canvasHost);
    m_toast = new ToastWidget(m_canvasHost);

    m_hint = new QLabel(m_canvasHost);
    m_hint->setObjectName(QStringLiteral("canvasHint"));
    m_hint->setStyleSheet(QStringLiteral("color:#9AA3B2; font-size:11.5px; background:rgba(0,0,0,102);"
                                         "padding:3px 9px; border-radius:5px;"));
    m_hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_toast->keepAbove(m_progress);
    m_toast->keepAbove(m_hint);

    m_emptyState = new EmptyState(m_canvasHost);
    connect(m_emptyState, &EmptyState::openDirectoryRequested, this, [this] { openDirectory(QString()); });
    connect(m_emptyState, &EmptyState::subfolderRequested, this, &MainWindow::openDirectory);
    retranslateWidgets();
}

void MainWindow::connectSignals()
{
    // The folder
    // The first image does not wait for the file list's rows: they join it once it is painted.
    connect(m_session, &FolderSession::pathsListed, this, [this](const QStringList &paths) {
        // The image shown may have been painted before its neighbours were listed.
        if (!m_launch->isDone())
            m_stepper->neighboursListed();
        m_launch->whenDone([this, paths, dir = m_session->directory()] {
            if (dir != m_session->directory())
                return;
            m_fileList->appendPaths(paths);
            // The image shown before its row was listed is selected in its place.
            if (paths.contains(currentImagePath()))
                m_fileList->selectPath(currentImagePath(), true);
        });
    });
    connect(m_session, &FolderSession::listingFinished, this, [this] {
        if (!m_launch->isDone() && m_session->imagePaths().isEmpty())
            m_launch->endWhenIdle();   // no image to wait for
        m_launch->whenDone([this, dir = m_session->directory()] {
            if (dir == m_session->directory())
                onListingFinished();
        });
    });
    // A step asked for before its image was listed is taken once the next images are there.
    const auto takeDeferredStep = [this] {
        const int step = m_stepper->takeDeferredStep();
        if (step != 0)
            stepImage(step);
    };
    connect(m_session, &FolderSession::pathsListed, this, takeDeferredStep);
    connect(m_session, &FolderSession::listingFinished, this, takeDeferredStep);
    connect(m_session, &FolderSession::imageWanted, this, &MainWindow::showWantedImage);
    connect(m_session, &FolderSession::imageStateChanged, this, [this](const QString &path, const ImageState &state) {
        // Its row may not be there yet.
        m_launch->whenDone([this, path, state, dir = m_session->directory()] {
            if (dir == m_session->directory())
                onImageStateChanged(path, state);
        });
    });
    connect(m_session, &FolderSession::notice, m_toast, [this](const QString &text) { m_toast->showMessage(text); });
    // A big label file read on the worker: the image showed at once, its shapes join it now.
    connect(m_session, &FolderSession::currentLabelsArrived, this, [this](const QList<Annotation> &records) {
        m_editor->addLoaded(records);
        showKeptShapes();
        updateClassList(false);
        updateEmptyState();
        refreshPanels();
        logTiming(QStringLiteral("labels shown %1").arg(records.size()));
    });
    connect(m_session, &FolderSession::currentResultsArrived, this, [this](const QList<Annotation> &records) {
        m_editor->addLoaded(records);
        refreshPanels();
        logTiming(QStringLiteral("pending results shown %1").arg(records.size()));
    });
    // brindlemark-cli label may write results into the open folder: they show as they arrive, and
    // on coming back to the window where the file system tells nothing (a network disk).
    m_session->setWatchingPendingFile(true);
    // Other programs may rewrite the label file on screen too (a script, brindlemark-cli label).
    m_session->setWatchingLabelFiles(true);
    connect(m_session, &FolderSession::currentLabelsChangedElsewhere, this, &MainWindow::onLabelsChangedElsewhere);
    connect(qApp, &QGuiApplication::applicationStateChanged, m_session, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            return;
        m_session->checkPendingFile();
        if (m_session->labelFileChangedElsewhere(currentImagePath()))
            onLabelsChangedElsewhere();
    });
    connect(categories(), &CategoryHistory::changed, this, [this] {
        refreshCategories();
        updateCategoryIndicator();
    });

    connect(m_fileList, &FileListPanel::currentPathChanged, this, [this](const QString &path) {
        if (!path.isEmpty() && !m_editor->isLoading())
            showImage(path);
    });
    connect(m_fileList, &FileListPanel::fileDeleteRequested, this, &MainWindow::deleteImage);
    connect(m_fileList, &FileListPanel::fileAutoLabelRequested, this, [this](const QString &path) {
        showImage(path);
        startAutoLabel(false, path == currentImagePath());
    });
    connect(m_fileList, &FileListPanel::thumbnailsFinished, this, [](int held) {
        logTiming(QStringLiteral("thumbnails done %1").arg(held));
    });

    // The image on screen
    connect(m_objectPanel, &ObjectListPanel::rowActivated, this, [this](uint id) {
        m_scene->selectId(id, true, true);
        // The arrow keys then move the shape, as after selecting it on the canvas.
        m_view->setFocus(Qt::OtherFocusReason);
    });
    connect(m_objectPanel, &ObjectListPanel::rowConfirmed, this, &MainWindow::confirmOne);
    connect(m_objectPanel, &ObjectListPanel::categoryApplied, m_editor, &AnnotationEditor::applyCategory);
    connect(m_objectPanel, &ObjectListPanel::categoryDeleteRequested, this, &MainWindow::requestCategoryDelete);
    connect(m_objectPanel, &ObjectListPanel::categoryVisibilityRequested, m_scene, &AnnotationScene::setLabelHidden);
    connect(m_scene, &AnnotationScene::visibilityChanged, this, &MainWindow::showVisibility);
    connect(m_session->categories(), &DatasetCategories::usageCounted, this, &MainWindow::onCategoryUsageCounted);
    connect(m_session->categories(), &DatasetCategories::classListChanged, this, &MainWindow::refreshCategories);
    connect(m_objectPanel, &ObjectListPanel::addCategoryClicked, this, &MainWindow::addCategory);
    connect(m_objectPanel, &ObjectListPanel::categoryChosen, categories(), &CategoryHistory::setLastLabel);

    connect(m_editor, &AnnotationEditor::edited, this, &MainWindow::onEdited);
    connect(m_scene, &AnnotationScene::selectedIdChanged, this, [this] {
        if (!m_editor->isLoading())
            refreshObjects();
        showKeypointHint();
    });
    // Queued: the label dialog and the menu run their own event loops, not inside a mouse handler.
    connect(m_scene, &AnnotationScene::shapeDrafted, this, &MainWindow::addDrafted, Qt::QueuedConnection);
    connect(m_scene, &AnnotationScene::itemContextRequested, this,
            [this](uint id, const QPoint &globalPos) { showAnnotationMenu(id, globalPos); }, Qt::QueuedConnection);
    // Queued: after the double-click's release, which would select the confirmed shape again.
    connect(m_scene, &AnnotationScene::confirmRequested, this, &MainWindow::confirmOne, Qt::QueuedConnection);
    connect(m_scene, &AnnotationScene::statusHint, m_status, &MainStatusBar::setMessage);
    connect(m_view, &CanvasView::zoomChanged, m_status, &MainStatusBar::setZoom);
    connect(m_view, &CanvasView::zoomChanged, m_stepper, &ImageStepper::onZoomChanged);
    connect(m_status, &MainStatusBar::adjustmentClicked, this, [this] {
        m_adjustmentPopup->setAdjustment(m_stepper->adjustment());
        m_adjustmentPopup->popUpAbove(m_status->adjustmentButton());
    });
    // Queued: the chooser runs its own event loop, not inside the label's mouse handler.
    connect(m_status, &MainStatusBar::categoryClicked, this, &MainWindow::chooseCurrentCategory, Qt::QueuedConnection);
    connect(m_adjustmentPopup, &AdjustmentPopup::adjustmentChanged, this, &MainWindow::setAdjustment);
    connect(m_view, &CanvasView::cursorMoved, m_status, &MainStatusBar::setCursorPixel);
    connect(m_view, &CanvasView::viewScaleChanged, m_scene, &AnnotationScene::setViewScale);
    connect(m_status, &MainStatusBar::formatChanged, this, &MainWindow::setFolderFormat);
    connect(m_session, &FolderSession::folderFormatChanged, this, &MainWindow::showFolderFormat);

    // The model server
    connect(m_progress, &ProgressOverlay::pauseToggled, this, [this](bool paused) {
        if (paused)
            m_client->pause();
        else
            m_client->resume();
    });
    connect(m_progress, &ProgressOverlay::cancelClicked, m_client, &VllmClient::cancel);
    connect(m_client, &VllmClient::statusChanged, this, &MainWindow::updateModelIndicator);
    connect(m_client, &VllmClient::busyChanged, this, [this](bool busy) {
        // Every image of a run may reorder the categories: they are stored once, at its end.
        categories()->holdStores(busy);
        updateModelIndicator();
    });
    connect(m_client, &VllmClient::progress, m_progress, &ProgressOverlay::setProgress);
    setUpAutoLabelRun();
    connect(m_checkRun, &CheckRun::rulesFinished, this, [this] { unsetCursor(); });
    connect(m_checkRun, &CheckRun::reviewFinished, this, &MainWindow::onReviewFinished);
    connect(m_checkRun, &CheckRun::finished, this, &MainWindow::showCheckSummary);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_canvasHost && event->type() == QEvent::Resize)
        layoutCanvasOverlays();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::layoutCanvasOverlays()
{
    m_emptyState->setGeometry(m_canvasHost->rect());
    m_progress->reposition();
    // One line when it fits, else wrapped to the canvas: never cut off.
    const int room = std::max(120, m_canvasHost->width() - 24);
    m_hint->ensurePolished();
    m_hint->setWordWrap(false);
    m_hint->setMinimumWidth(0);
    m_hint->setMaximumWidth(QWIDGETSIZE_MAX);
    const int natural = m_hint->sizeHint().width();
    m_hint->setWordWrap(natural > room);
    m_hint->setFixedWidth(std::min(natural, room));
    m_hint->adjustSize();
    m_hint->move(12, m_canvasHost->height() - m_hint->height() - 10);
    m_hint->raise();
    m_emptyState->raise();
}

void MainWindow::retranslateWidgets()
{
    m_emptyState->retranslate();
    updateCanvasHint();
}

void MainWindow::updateCanvasHint()
{
    // What a drag does is the mode's: the drawing tool says it, select mode has none.
    QString drag = m_scene->modeHint();
    if (drag.isEmpty())
        drag = translateText("点击或拖拽选择");
    m_hint->setText(translateText("滚轮缩放 · 空格+拖拽平移 · %1 · Enter 确认 ⚡框 · Esc 拒绝 · A/D 切换待确认").arg(drag));
    layoutCanvasOverlays();
}

void MainWindow::updateTitle()
{
    const QString dir = m_session->directory();
    setWindowTitle(dir.isEmpty() ? QStringLiteral("Brindlemark") : QStringLiteral("Brindlemark — %1").arg(dir));
    m_status->setDirectory(QDir::toNativeSeparators(dir));
}

void MainWindow::updateEmptyState()
{
    m_emptyState->setVisible(m_session->imagePaths().isEmpty() && !m_session->isListing()
                             && currentImagePath().isEmpty());
    if (m_emptyState->isVisible())
        m_emptyState->raise();
}

void MainWindow::refreshStatus()
{
    const QString path = currentImagePath();
    m_status->setImageInfo(path.isEmpty() ? QString() : QFileInfo(path).fileName(), m_stepper->current().fullSize,
                           path.isEmpty() ? 0 : m_scene->pendingCount());
}

void MainWindow::updateSavedIndicator()
{
    m_status->setDirty(m_editor->isDirty());
}

void MainWindow::updateModelIndicator()
{
    m_status->setModelState(m_client->isBusy(), m_client->isOnline());
}

void MainWindow::updateCategoryIndicator()
{
    m_status->setCategory(categories()->lastLabel(), m_dontAskCategory);
}

void MainWindow::setDontAskCategory(bool dontAsk)
{
    if (m_actions.dontAskCategory && m_actions.dontAskCategory->isChecked() != dontAsk)
        m_actions.dontAskCategory->setChecked(dontAsk);   // comes back here through toggled
    if (m_dontAskCategory == dontAsk)
        return;
    m_dontAskCategory = dontAsk;
    WindowSettings::saveDontAskCategory(dontAsk);
    updateCategoryIndicator();
}

void MainWindow::refreshPanels()
{
    refreshObjects();
    refreshCategories();
    refreshStatus();
    m_session->refreshImageState(currentImagePath());
}

void MainWindow::refreshObjects()
{
    m_objectPanel->refreshObjects(m_scene->annotations(), m_scene->selectedIds(), m_editor->savedShapeNumbers());
    m_objectPanel->setKeptCount(int(m_scene->keptShapes().size()));
}

CategoryHistory *MainWindow::categories() const
{
    return m_session->categories()->history();
}

QStringList MainWindow::categoryRows() const
{
    QStringList rows = m_session->categories()->rows();
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (!a.label.isEmpty() && !rows.contains(a.label))
            rows.append(a.label);
    }
    return rows;
}

void MainWindow::refreshCategories()
{
    QHash<QString, int> counts;
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (!a.label.isEmpty())
            ++counts[a.label];
    }
    const QStringList rows = categoryRows();
    if (setLabelsInUse(rows)) {
        // A category took a free colour: the shapes and rows drawn in the old one follow.
        m_scene->update();
        refreshObjects();
    }
    m_objectPanel->refreshCategories(rows, counts, categories()->lastLabel());
}

void MainWindow::setFolderFormat(LabelFormat format)
{
    m_session->setFolderFormat(format);
    // The folder keeps any choice (labelme too: an unlabelled folder has no file to tell it);
    // the choice kept for new folders stays YOLO or VOC. DOTA is no choice.
    if (!m_session->directory().isEmpty())
        WindowSettings::saveFolderFormat(m_session->directory(), format);
    if (format == LabelFormat::Voc || format == LabelFormat::Yolo)
        m_lastChosenYolo = format == LabelFormat::Yolo;
    showFolderFormat(format);
    saveSettings();
}

void MainWindow::showFolderFormat(LabelFormat format)
{
    m_status->setFormat(format);
    if (m_actions.formatYolo) {
        // A DOTA folder's new label files are DOTA: there is nothing to choose.
        const bool dota = format == LabelFormat::Dota;
        m_actions.formatYolo->setChecked(format == LabelFormat::Yolo);
        m_actions.formatVoc->setChecked(format == LabelFormat::Voc);
        m_actions.formatLabelme->setChecked(format == LabelFormat::Labelme);
        m_actions.formatYolo->setEnabled(!dota);
        m_actions.formatVoc->setEnabled(!dota);
        m_actions.formatLabelme->setEnabled(!dota);
    }
}

void MainWindow::saveSettings()
{
    WindowSettings::save({categories()->labels(), m_lastChosenYolo, m_serverConfig});
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_editor->isDirty()) {
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
            m_editor->markSaved();
        } else {
            event->ignore();
            return;
        }
    }
    if (m_client->isBusy() || m_checkRun->isReviewing())
        m_client->cancel();
    m_checkRun->stopRules();
    m_session->categories()->stopCounting();
    m_fileList->stopThumbnails();
    rememberPlace();
    m_session->close();
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
        if (info.isFile() && isImageFile(path)) {
            openFolder(info.absolutePath(), info.absoluteFilePath());
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
    if (!m_launch->isDone() && !event->spontaneous())
        QTimer::singleShot(0, this, [] { logTiming(QStringLiteral("window shown")); });
}
