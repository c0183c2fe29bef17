#pragma once

#include "inference/serverconfig.h"
#include "storage/annotation.h"
#include "storage/pendingfile.h"
#include "ui/imagedecoder.h"
#include "ui/windowactions.h"

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <optional>

class AnnotationScene;
class AutoLabelDialog;
class CheckResultDialog;
class LabelChecker;
class PendingFileWriter;
class PendingWriteThrottle;
struct LabelIssue;
class CategoryHistory;
class CanvasView;
class DirectoryLoader;
class EmptyState;
class FileListPanel;
class FileStateScanner;
class ImagePrefetcher;
class MainStatusBar;
class ObjectListPanel;
class PendingFileLoader;
struct NamesFileNotice;
class ProgressOverlay;
class QLabel;
class QTimer;
class QUndoStack;
class ToastWidget;
class VllmClient;

// Brindlemark's only top-level window. It owns the canvas, the panels, the workers and the
// per-image state of the open directory, and wires them together. Its work is split by topic:
// mainwindow.cpp (frame, wiring, closing), mainwindow_actions.cpp (menus, toolbar, language),
// mainwindow_directory.cpp (opening and listing), mainwindow_navigation.cpp (showing images),
// mainwindow_saving.cpp (saving, pending file, deleting, per-image states), mainwindow_edits.cpp
// (undoable edits), mainwindow_pending.cpp (confirming and rejecting model results).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The counts the file list shows for an image.
    struct ImageState
    {
        int confirmed = 0;
        int pending = 0;
        bool failed = false;
        bool known = false;
    };

    explicit MainWindow(const QString &initialPath, QWidget *parent = nullptr);
    ~MainWindow() override;

    void openDirectory(const QString &path);
    void showImage(const QString &path);
    void stepImage(int step);
    bool saveCurrent();
    void deleteImage(const QString &path);
    // The current image's records into the cache, then the pending file written when something
    // changed; in the background (no wait for the disk) during a run.
    void flushPending(bool inBackground = false);
    void refreshImageState(const QString &path);
    void switchLanguage(const QString &code);
    void showShortcuts();

    // Edits, each an undo step (mainwindow_edits.cpp).
    void addDrafted(const Annotation &draft);
    void editCategory(uint id);
    void applyCategory(const QString &label);
    void applyNumberKey(int number);
    void toggleDifficult(uint id);
    void deleteSelected();
    void deleteCategory(const QString &label, int annotationCount);
    void addCategory();
    void copyPreviousShapes();
    void showAnnotationMenu(uint id, const QPoint &globalPos);

    // Pending model results (mainwindow_pending.cpp).
    void confirmOne(uint id);
    void confirmCurrent();
    void confirmAll();
    void rejectOne(uint id);
    void rejectAll();
    void stepPending(int direction);
    void escapeAction();

    // Auto-label runs (mainwindow_autolabel.cpp) and label checks (mainwindow_checker.cpp).
    void startAutoLabel(bool settingsOnly, bool preferCurrent);
    bool checkServerNow(QString *error);
    void applyDialogServer();
    void startCheck();

    // State, for the panels' owners and for tests.
    QString initialPath() const { return m_initialPath; }
    QString currentDirectory() const { return m_currentDir; }
    QString currentImagePath() const { return m_currentImagePath; }
    QSize currentImageSize() const { return m_current.fullSize; }
    QStringList imagePaths() const { return m_imagePaths; }
    bool isDirty() const { return m_dirty; }
    bool isLoadingDirectory() const { return m_loadingDirectory; }
    bool useYolo() const { return m_useYolo; }
    QStringList labelHistory() const;
    QString lastLabel() const;
    CategoryHistory *categories() const { return m_categories; }
    ServerConfig serverConfig() const { return m_serverConfig; }
    ImageState imageState(const QString &path) const { return m_imageStates.value(path); }
    QList<Annotation> cachedAnnotations(const QString &path) const { return m_annotationCache.value(path); }
    bool hasCachedAnnotations(const QString &path) const { return m_annotationCache.contains(path); }

    AnnotationScene *scene() const { return m_scene; }
    CanvasView *view() const { return m_view; }
    FileListPanel *fileList() const { return m_fileList; }
    ObjectListPanel *objectPanel() const { return m_objectPanel; }
    ToastWidget *toast() const { return m_toast; }
    ProgressOverlay *progressCard() const { return m_progress; }
    MainStatusBar *statusPanel() const { return m_status; }
    EmptyState *emptyState() const { return m_emptyState; }
    QUndoStack *undoStack() const { return m_undoStack; }
    VllmClient *client() const { return m_client; }
    const WindowActions &actions() const { return m_actions; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // mainwindow.cpp
    void buildCentralWidget();
    void connectSignals();
    void layoutCanvasOverlays();
    void updateTitle();
    void updateEmptyState();
    void refreshStatus();
    void updateSavedIndicator();
    void updateModelIndicator();
    void refreshPanels();
    void refreshObjects();
    void refreshCategories();
    void markDirty();
    void setUseYolo(bool yolo);
    void saveSettings();
    void showAbout();
    void retranslateWidgets();

    // mainwindow_actions.cpp
    void buildActions();
    void buildMenus();
    void buildToolbar();
    void rebuildRecentMenu();
    void setModeFromAction(QAction *action);
    QAction *makeAction(const QString &iconName, const QString &text);

    // mainwindow_directory.cpp
    void openImageFolder(const QString &imagePath);
    // The folder the window opens at start: the one given, or the last one.
    QString startDirectory() const;
    void onChunkReady(const QString &dir, const QStringList &paths);
    void onListingDone(const QString &dir, const QStringList &paths);
    void onPendingLoaded(const QString &dir, const AnnotationCache &pending, bool readable);
    void showFirstImageWhenReady();
    void schedulePendingStates();
    void refreshSomePendingStates();
    void onStateReady(const QString &path, int confirmed);

    // mainwindow_navigation.cpp
    qsizetype indexOfImage(const QString &path) const;
    QSize canvasFitArea() const;
    void prefetchNeighbours();
    QList<Annotation> annotationsFor(const QString &path);
    void installImage(const QString &path, const DecodedImage &decoded);
    void forgetCurrentImage();
    void watchForPaint(const QString &path);
    void onZoomChanged();
    void onFullResolution(const DecodedImage &image);

    // mainwindow_edits.cpp
    std::optional<Annotation> sceneAnnotation(uint id) const;
    void pushState(uint id, const std::optional<Annotation> &before, const std::optional<Annotation> &after,
                   const QString &text, bool mergeable = false);
    void onAnnotationEdited(uint id, const Annotation &before, const Annotation &after);
    void onAnnotationNudged(uint id, const Annotation &before, const Annotation &after);

    // mainwindow_autolabel.cpp
    AutoLabelDialog *autoLabelDialog();
    void onImageFinished(const QString &path, const QList<Annotation> &anns, bool ok, const QString &error);
    void onTaskFinished(int done, int total, int added, double avgConfidence, int failed, bool cancelled);

    // mainwindow_checker.cpp
    void onIssueFound(const LabelIssue &issue);
    void onReviewImageFinished(const QString &path, const QList<Annotation> &anns, bool ok, const QString &error);
    void onRuleCheckFinished(int checkedImages, int issueCount, int issueImages);
    void onReviewFinished(bool cancelled);

    // mainwindow_saving.cpp
    static QList<Annotation> pendingRecords(const QList<Annotation> &annotations);
    void noticeNamesFile(const NamesFileNotice &notice);
    bool trashDamagedOriginal();
    QList<Annotation> confirmedForSaving() const;
    AnnotationCache pendingSnapshot() const;
    bool moveLabelFilesToTrash(const QString &imagePath);

    QString m_initialPath;

    // Owned widgets and objects
    AnnotationScene *m_scene = nullptr;
    CanvasView *m_view = nullptr;
    QWidget *m_canvasHost = nullptr;
    FileListPanel *m_fileList = nullptr;
    ObjectListPanel *m_objectPanel = nullptr;
    ProgressOverlay *m_progress = nullptr;
    ToastWidget *m_toast = nullptr;
    QLabel *m_hint = nullptr;
    EmptyState *m_emptyState = nullptr;
    MainStatusBar *m_status = nullptr;
    VllmClient *m_client = nullptr;
    QUndoStack *m_undoStack = nullptr;
    FileStateScanner *m_stateScanner = nullptr;
    DirectoryLoader *m_directoryLoader = nullptr;
    PendingFileLoader *m_pendingLoader = nullptr;
    ImagePrefetcher *m_prefetcher = nullptr;
    WindowActions m_actions;
    QAction *m_escapeAction = nullptr;

    // The open directory
    QString m_currentDir;
    QStringList m_imagePaths;
    QString m_listedDir;   // the directory m_imagePaths belongs to (set when listing is done)
    bool m_loadingDirectory = false;
    QString m_preferredImage;   // shown first when the listing arrives (an image opened by path)
    // Pending results as read from the directory's file, for images not merged into the cache
    // yet: an image's entry is merged (label file + these) the first time the image is needed.
    AnnotationCache m_pendingFromFile;
    bool m_pendingLoaded = false;     // the file has been read; writing it before would lose results
    bool m_pendingWritable = true;    // false when the file exists but cannot be read
    bool m_pendingChanged = false;    // something pending changed since the last write
    QStringList m_pendingStateQueue;   // images whose pending count still has to reach the file list
    QTimer *m_pendingStateTimer = nullptr;
    QHash<QString, QList<Annotation>> m_annotationCache;
    QHash<QString, ImageState> m_imageStates;
    QHash<QString, QString> m_damagedFiles;   // image → label file that could not be read to its end
    QSet<QString> m_namesNoticesShown;        // other tools' names files the user was told about

    // The image shown
    QString m_currentImagePath;
    QString m_previousImagePath;   // the image shown before the current one
    DecodedImage m_current;
    QList<Annotation> m_flushedPending;   // the current image's pending records at the last flush
    bool m_dirty = false;
    bool m_loadingImage = false;
    QString m_paintWatchPath;
    QString m_fullResolutionRequested;
    mutable qsizetype m_indexHint = 0;

    // Settings and history
    CategoryHistory *m_categories = nullptr;
    bool m_useYolo = false;
    ServerConfig m_serverConfig;
    bool m_modelOnline = false;
    bool m_inferenceBusy = false;
    bool m_reviewRunning = false;
    bool m_firstShow = true;

    // Auto-label run
    AutoLabelDialog *m_autoLabelDialog = nullptr;
    PendingWriteThrottle *m_pendingThrottle = nullptr;
    PendingFileWriter *m_pendingWriter = nullptr;
    int m_runAdded = 0;   // results kept after the overlap filter

    // Label check
    LabelChecker *m_checker = nullptr;
    QPointer<CheckResultDialog> m_checkDialog;   // deletes itself when closed
    int m_ruleIssueCount = 0;
    int m_ruleIssueImages = 0;
    int m_ruleCheckedImages = 0;
    QSet<QString> m_ruleIssuePaths;
    int m_modelReviewedCount = 0;
    int m_modelIssueCount = 0;
    QSet<QString> m_modelIssueImages;
};
