#pragma once

#include "inference/serverconfig.h"
#include "storage/annotation.h"
#include "storage/annotationstore.h"
#include "ui/imageadjustment.h"
#include "ui/windowactions.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class AdjustmentPopup;
class AnnotationEditor;
class AnnotationScene;
class AutoLabelDialog;
class AutoLabelRun;
class CanvasView;
class CategoryHistory;
class CheckResultDialog;
class CheckRun;
class EmptyState;
class FileListPanel;
class FolderSession;
class ImageStepper;
class LaunchDecode;
class LaunchGate;
class MainStatusBar;
class ObjectListPanel;
class ProgressOverlay;
class QLabel;
class QSplitter;
class ToastWidget;
class VllmClient;
struct CheckSummary;
struct DecodedImage;
struct ImageResult;
struct ImageState;
struct LabelIssue;
struct SaveReport;
struct TaskSummary;

// Brindlemark's only top-level window: it owns the widgets and the actions and wires them to the
// open folder (FolderSession: listing, cache, saving, model results) and to the editor of the
// image on screen (AnnotationEditor: undoable edits). What it adds itself is what a window does:
// asking, showing, toasting. Its files are named by what they show: mainwindow.cpp (frame,
// status, closing), mainwindow_menus.cpp (menus, toolbar, language), mainwindow_folder.cpp (the
// folder and its file list), mainwindow_canvas.cpp (the image on the canvas and its edits),
// mainwindow_runs.cpp (model runs and label checks, their dialogs and the progress card).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const QString &initialPath, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Runs task once the first image is painted and the window idle (at once after that).
    void whenLaunched(std::function<void()> task);
    // The file list is filled and steps are taken: what waited for the first image has run.
    bool isLaunched() const;

    void openDirectory(const QString &path);
    // A folder or an image handed over by a second start: saved and opened as a drop would be.
    void openPath(const QString &path);
    // False when the image is not shown: it cannot be decoded, or the current one cannot be saved.
    bool showImage(const QString &path);
    void stepImage(int step);
    // After the image's last model result was decided: the next image (in the file list's
    // order and filter) that has results, with its first one selected (pointed: by the user's
    // key, so that the digits and arrows act on it). False when none has.
    bool reviewNextImage(bool pointed = false);
    bool saveCurrent();
    // V: an image without shapes gets an empty label file (a background image), as one undo
    // step; an image with shapes is saved.
    void markChecked();
    void deleteImage(const QString &path);
    // Converts every label file of the open folder, after asking.
    void convertFolder(LabelFormat to);
    void importCoco();
    void switchLanguage(const QString &code);
    void showShortcuts();
    void startAutoLabel(bool settingsOnly, bool preferCurrent);
    void startCheck();
    // A check finding was double-clicked: the window comes to the front with the image, and the
    // shape the finding numbers (#n, 0: none) selected.
    void showFinding(const QString &path, int shapeNumber);
    // The categories of the panel in their row order (the keys 1-9 follow it).
    QStringList categoryRows() const;
    // While on, a drawn shape takes the current category without the label dialog (which still
    // asks while there is none). Remembered in the settings.
    bool dontAskCategory() const { return m_dontAskCategory; }
    void setDontAskCategory(bool dontAsk);

    QString currentDirectory() const;
    QString currentImagePath() const;
    QSize currentImageSize() const;
    // Brightness and contrast of the canvas (not of the file); kept across images until reset.
    void setAdjustment(const ImageAdjustment &adjustment);
    ImageAdjustment adjustment() const;
    AdjustmentPopup *adjustmentPopup() const { return m_adjustmentPopup; }
    bool isDirty() const;
    ServerConfig serverConfig() const { return m_serverConfig; }

    FolderSession *session() const { return m_session; }
    AnnotationEditor *editor() const { return m_editor; }
    // The open dataset's categories in first-use order (the session's DatasetCategories holds them).
    CategoryHistory *categories() const;
    AnnotationScene *scene() const { return m_scene; }
    CanvasView *view() const { return m_view; }
    FileListPanel *fileList() const { return m_fileList; }
    ObjectListPanel *objectPanel() const { return m_objectPanel; }
    QSplitter *splitter() const { return m_splitter; }
    CheckResultDialog *checkDialog() const;
    ToastWidget *toast() const { return m_toast; }
    ProgressOverlay *progressCard() const { return m_progress; }
    MainStatusBar *statusPanel() const { return m_status; }
    EmptyState *emptyState() const { return m_emptyState; }
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
    void retranslateWidgets();
    void updateTitle();
    void updateEmptyState();
    // A selected box of a pose dataset: its keypoints are shown and kept, not edited here.
    void showKeypointHint();
    // A pose dataset's image: the polygon and rotated-box modes are greyed, with the reason.
    void updateOutlineModes();
    // Model outlines a confirmation left pending: the label file holds boxes with keypoints only.
    void toastOutlinesKept(int confirmed, int kept);
    void refreshStatus();
    void updateSavedIndicator();
    void updateModelIndicator();
    void updateCategoryIndicator();
    // The canvas's hint line; what Shift does depends on the mode.
    void updateCanvasHint();
    void refreshPanels();
    void refreshObjects();
    void refreshCategories();
    // The user's choice of format for the open folder's new label files (and the next new folder's).
    void setFolderFormat(LabelFormat format);
    void showFolderFormat(LabelFormat format);
    void saveSettings();

    // mainwindow_menus.cpp
    void buildActions();
    void buildMenus();
    void buildToolbar();
    void rebuildRecentMenu();
    void setModeFromAction(QAction *action);
    // The scene hid or showed shapes: the toggle and the panel follow.
    void showVisibility();
    QAction *makeAction(const QString &iconName, const QString &text);

    // mainwindow_folder.cpp
    // Opens dir; preferredImage (one of its images, or empty) is shown first.
    void openFolder(const QString &dir, const QString &preferredImage);
    // Stores the image on screen as the place to come back to in its folder.
    void rememberPlace();
    QString startDirectory() const;
    void onListingFinished();
    void onImageStateChanged(const QString &path, const ImageState &state);
    void toastSaveFailure(const SaveReport &report);
    // Another program changed the label file on screen: reloaded when nothing is unsaved, else told.
    void onLabelsChangedElsewhere();
    // The image's records read again from its label file; unsaved edits are dropped.
    void reloadCurrentLabels();

    // mainwindow_canvas.cpp
    void showWantedImage(const QString &path);
    // Decodes the launch's first image on a thread of its own while the window is built: the
    // preferred one at once, else the listing's first as its thread finds it.
    void beginLaunchDecode(const QString &dir, const QString &preferredImage);
    void installImage(const QString &path, const DecodedImage &decoded);
    void forgetCurrentImage();
    // The shapes of the image's file that are shown, not edited (labelme's circles, lines, ...).
    void showKeptShapes();
    void adjustBy(int brightness, int contrast);
    void onEdited();
    void addDrafted(const Annotation &draft);
    void editCategory(uint id);
    void applyNumberKey(int number);
    // The panel asked to delete a category: when saved label files use it, the window counts
    // them (on a worker) and asks first.
    void requestCategoryDelete(const QString &label, int annotationCount);
    void onCategoryUsageCounted(const QString &label, int files);
    void deleteCategory(const QString &label, int annotationCount);
    void updateClassList(bool reread);
    void addCategory();
    // The status bar's category was clicked: the chooser of the category new shapes get.
    void chooseCurrentCategory();
    // New categories that the dataset's names file (data.yaml, obj.names) lacks join it once the
    // user agrees; false when they did not (or it could not be written): the categories are not used.
    bool acceptCategories(const QStringList &labels);
    void copyPreviousShapes();
    void showAnnotationMenu(uint id, const QPoint &globalPos);
    void confirmCurrent();
    void confirmOne(uint id);
    void escape();
    void afterReview(bool noneLeft, bool keyboard);
    void confirmAll();
    void rejectAll();

    // mainwindow_runs.cpp
    AutoLabelDialog *autoLabelDialog();
    // The run's probe of the server, waited for; error says why it is offline. Busy: a task
    // started while it waited (said in a toast), and the probe is forgotten.
    enum class RunProbe { Online, Offline, Busy };
    RunProbe probeForRun(QString *error);
    void runFromDialog(AutoLabelDialog *dialog);
    bool refusedWhileBusy();
    void applyDialogServer();
    // Makes the auto-label run and listens to it.
    void setUpAutoLabelRun();
    void onModelReplaced(const QString &asked, const QString &used);
    // The run's results for the image on screen: into the editor as one undo step; -1: not shown.
    int takeShownResults(const ImageResult &result);
    void onRunFinished(const TaskSummary &summary);
    void onReviewFinished(const CheckSummary &summary);
    void showCheckSummary(const CheckSummary &summary);

    QString m_initialPath;

    // The folder, the image on screen and their editor
    FolderSession *m_session = nullptr;
    AnnotationEditor *m_editor = nullptr;
    ImageStepper *m_stepper = nullptr;   // the pixels of the image shown: decode, prefetch, fit, step timing
    LaunchGate *m_launch = nullptr;   // what waits until the first image is painted
    LaunchDecode *m_launchDecode = nullptr;   // the first image's pixels, decoded while the window is built
    bool m_lastChosenYolo = false;   // the last format chosen anywhere: new folders start with it
    bool m_dontAskCategory = false;

    // Widgets
    AnnotationScene *m_scene = nullptr;
    CanvasView *m_view = nullptr;
    QWidget *m_canvasHost = nullptr;
    QSplitter *m_splitter = nullptr;
    FileListPanel *m_fileList = nullptr;
    ObjectListPanel *m_objectPanel = nullptr;
    ProgressOverlay *m_progress = nullptr;
    ToastWidget *m_toast = nullptr;
    QLabel *m_hint = nullptr;
    EmptyState *m_emptyState = nullptr;
    MainStatusBar *m_status = nullptr;
    AdjustmentPopup *m_adjustmentPopup = nullptr;
    WindowActions m_actions;

    // The model server, its runs and the label check
    VllmClient *m_client = nullptr;
    ServerConfig m_serverConfig;
    AutoLabelRun *m_autoLabel = nullptr;
    AutoLabelDialog *m_autoLabelDialog = nullptr;
    CheckRun *m_checkRun = nullptr;
    QPointer<CheckResultDialog> m_checkDialog;   // deletes itself when closed
};
