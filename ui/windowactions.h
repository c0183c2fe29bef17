#pragma once

class QAction;
class QActionGroup;
class QMenu;
class QObject;
class QToolBar;

// Every menu and toolbar action of the main window. All are children of `parent`, which the
// window deletes and rebuilds when the interface language changes; the pointers are valid until
// then.
struct WindowActions
{
    QObject *parent = nullptr;

    // 文件
    QAction *open = nullptr;
    QMenu *recentMenu = nullptr;
    QAction *save = nullptr;
    QAction *importCoco = nullptr;
    QAction *reloadLabels = nullptr;   // F5: the image's label file as another program left it
    QAction *quit = nullptr;
    // 编辑
    QAction *undo = nullptr;
    QAction *redo = nullptr;
    QAction *deleteSelected = nullptr;
    QAction *copyPrevious = nullptr;
    QAction *confirmAll = nullptr;
    QAction *rejectAll = nullptr;
    // 视图
    QAction *zoomIn = nullptr;
    QAction *zoomOut = nullptr;
    QAction *zoomFit = nullptr;
    QAction *zoom100 = nullptr;
    QAction *toggleFileList = nullptr;
    QAction *toggleObjectPanel = nullptr;
    QAction *hideShapes = nullptr;   // checked: every shape hidden from view
    QAction *brightnessUp = nullptr;     // how the image is shown, never the file
    QAction *brightnessDown = nullptr;
    QAction *contrastUp = nullptr;
    QAction *contrastDown = nullptr;
    QAction *resetAdjustment = nullptr;
    // 标注
    QActionGroup *modeGroup = nullptr;
    QAction *rectMode = nullptr;
    QAction *polyMode = nullptr;
    QAction *rotatedMode = nullptr;
    // Z / X turn a selected rotated box by 1 degree, with Shift by 15.
    QAction *turnBack = nullptr;
    QAction *turnOn = nullptr;
    QAction *turnBackFar = nullptr;
    QAction *turnOnFar = nullptr;
    QAction *editMode = nullptr;
    QAction *dontAskCategory = nullptr;   // checkable, no key
    QAction *prevPending = nullptr;
    QAction *nextPending = nullptr;
    QAction *confirmCurrent = nullptr;
    QAction *markChecked = nullptr;   // also in the toolbar
    QActionGroup *formatGroup = nullptr;
    QAction *formatVoc = nullptr;
    QAction *formatYolo = nullptr;
    QAction *formatLabelme = nullptr;
    QAction *convertToVoc = nullptr;
    QAction *convertToYolo = nullptr;
    QAction *convertToLabelme = nullptr;
    QAction *convertToDota = nullptr;   // only for an images/ folder: DOTA files go to ../labelTxt/
    QAction *numberKeys[9] = {};
    // 模型
    QAction *autoLabel = nullptr;
    QAction *modelSettings = nullptr;
    QAction *checkServer = nullptr;
    // 语言
    QActionGroup *languageGroup = nullptr;
    // 帮助
    QAction *shortcuts = nullptr;
    QAction *about = nullptr;
    // toolbar only
    QAction *prevImage = nullptr;
    QAction *nextImage = nullptr;
    QAction *pageImages[2] = {};   // PageUp, PageDown: in no menu
    QAction *check = nullptr;
    QToolBar *toolbar = nullptr;
};
