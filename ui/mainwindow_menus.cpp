#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "inference/vllmclient.h"
#include "session/checkrun.h"
#include "session/foldersession.h"
#include "shared/language.h"
#include "ui/aboutbox.h"
#include "ui/adjustmentpopup.h"
#include "ui/annotationeditor.h"
#include "ui/autolabeldialog.h"
#include "ui/checkresultdialog.h"
#include "ui/filelistpanel.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/progressoverlay.h"
#include "ui/shortcutdialog.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUndoGroup>
#include <QUndoStack>

namespace {

QIcon icon(const QString &name)
{
    return name.isEmpty() ? QIcon() : QIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

// The mode actions' plain and active icons.
QString modeIconName(int mode, bool active)
{
    static const char *const names[] = {"edit", "rect", "poly", "rotated"};
    const QString name = QLatin1String(names[qBound(0, mode, 3)]);
    return active ? name + QStringLiteral("_active") : name;
}

void makePrimary(QToolBar *toolbar, QAction *action)
{
    if (QWidget *button = toolbar->widgetForAction(action)) {
        button->setObjectName(QStringLiteral("primary"));
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
}

} // namespace

QAction *MainWindow::makeAction(const QString &iconName, const QString &text)
{
    auto *action = new QAction(icon(iconName), text, m_actions.parent);
    action->setShortcutContext(Qt::WindowShortcut);
    return action;
}

void MainWindow::buildActions()
{
    m_actions = WindowActions();
    m_actions.parent = new QObject(this);
    WindowActions &a = m_actions;

    a.open = makeAction(QStringLiteral("folder"), translateText("目录"));
    a.open->setShortcut(QKeySequence::Open);
    connect(a.open, &QAction::triggered, this, [this] { openDirectory(QString()); });
    a.save = makeAction(QStringLiteral("save"), translateText("保存"));
    a.save->setShortcut(QKeySequence::Save);
    connect(a.save, &QAction::triggered, this, [this] { saveCurrent(); });
    a.importCoco = makeAction(QString(), translateText("导入 COCO…"));
    connect(a.importCoco, &QAction::triggered, this, &MainWindow::importCoco);
    a.reloadLabels = makeAction(QString(), translateText("重新读取标注"));
    a.reloadLabels->setShortcut(QKeySequence(Qt::Key_F5));
    connect(a.reloadLabels, &QAction::triggered, this, &MainWindow::reloadCurrentLabels);
    a.quit = makeAction(QString(), translateText("退出"));
    // Written out: Windows has no standard Quit key.
    a.quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(a.quit, &QAction::triggered, this, &QWidget::close);

    // From the group: they act on the stack of the image on screen, whichever it is.
    a.undo = m_editor->undoGroup()->createUndoAction(a.parent, translateText("撤销"));
    a.undo->setShortcut(QKeySequence::Undo);
    a.redo = m_editor->undoGroup()->createRedoAction(a.parent, translateText("重做"));
    // Both keys everywhere: the platform's Redo binding is Ctrl+Shift+Z alone on Linux and
    // Ctrl+Y alone on Windows.
    QList<QKeySequence> redoKeys = {QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))};
    for (const QKeySequence &key : QKeySequence::keyBindings(QKeySequence::Redo)) {
        if (!redoKeys.contains(key))
            redoKeys.append(key);
    }
    a.redo->setShortcuts(redoKeys);
    a.deleteSelected = makeAction(QStringLiteral("trash"), translateText("删除选中"));
    a.deleteSelected->setIconText(translateText("删除"));
    connect(a.deleteSelected, &QAction::triggered, m_editor, &AnnotationEditor::deleteSelected);
    a.deleteSelected->setShortcut(QKeySequence::Delete);
    a.copyPrevious = makeAction(QString(), translateText("复制上一张的标注"));
    a.copyPrevious->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    connect(a.copyPrevious, &QAction::triggered, this, &MainWindow::copyPreviousShapes);
    a.confirmAll = makeAction(QString(), translateText("全部确认 ⚡"));
    a.confirmAll->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    a.rejectAll = makeAction(QString(), translateText("全部拒绝 ⚡"));
    // Del deletes the selection; Ctrl+Del all the model's unconfirmed results.
    a.rejectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    connect(a.confirmAll, &QAction::triggered, this, &MainWindow::confirmAll);
    connect(a.rejectAll, &QAction::triggered, this, &MainWindow::rejectAll);

    a.zoomIn = makeAction(QString(), translateText("放大"));
    a.zoomIn->setShortcut(QKeySequence::ZoomIn);
    connect(a.zoomIn, &QAction::triggered, m_view, &CanvasView::zoomIn);
    a.zoomOut = makeAction(QString(), translateText("缩小"));
    a.zoomOut->setShortcut(QKeySequence::ZoomOut);
    connect(a.zoomOut, &QAction::triggered, m_view, &CanvasView::zoomOut);
    a.zoomFit = makeAction(QString(), translateText("适合窗口"));
    a.zoomFit->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));
    connect(a.zoomFit, &QAction::triggered, m_view, &CanvasView::zoomFit);
    a.zoom100 = makeAction(QString(), translateText("原始尺寸 100%"));
    a.zoom100->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
    connect(a.zoom100, &QAction::triggered, m_view, &CanvasView::zoom100);
    a.toggleFileList = makeAction(QString(), translateText("文件列表"));
    a.toggleFileList->setCheckable(true);
    a.toggleFileList->setChecked(!m_fileList->isHidden());
    a.toggleFileList->setShortcut(QKeySequence(QStringLiteral("F2")));
    connect(a.toggleFileList, &QAction::toggled, m_fileList, &QWidget::setVisible);
    a.toggleObjectPanel = makeAction(QString(), translateText("标注面板"));
    a.toggleObjectPanel->setCheckable(true);
    a.toggleObjectPanel->setChecked(!m_objectPanel->isHidden());
    a.toggleObjectPanel->setShortcut(QKeySequence(QStringLiteral("F3")));
    connect(a.toggleObjectPanel, &QAction::toggled, m_objectPanel, &QWidget::setVisible);
    a.hideShapes = makeAction(QString(), translateText("隐藏所有标注"));
    a.hideShapes->setToolTip(QStringLiteral("%1 (Ctrl+H)").arg(a.hideShapes->text()));
    a.hideShapes->setCheckable(true);
    a.hideShapes->setShortcut(QKeySequence(QStringLiteral("Ctrl+H")));
    connect(a.hideShapes, &QAction::toggled, m_scene, &AnnotationScene::setAllHidden);
    const int step = ImageAdjustment::kStep;
    const struct { QAction **slot; QString text; QKeyCombination key; int brightness; int contrast; } adjusts[] = {
        {&a.brightnessUp, translateText("提高亮度"), Qt::CTRL | Qt::SHIFT | Qt::Key_Up, step, 0},
        {&a.brightnessDown, translateText("降低亮度"), Qt::CTRL | Qt::SHIFT | Qt::Key_Down, -step, 0},
        {&a.contrastUp, translateText("提高对比度"), Qt::CTRL | Qt::SHIFT | Qt::Key_Right, 0, step},
        {&a.contrastDown, translateText("降低对比度"), Qt::CTRL | Qt::SHIFT | Qt::Key_Left, 0, -step},
    };
    for (const auto &adjust : adjusts) {
        *adjust.slot = makeAction(QString(), adjust.text);
        (*adjust.slot)->setShortcut(QKeySequence(adjust.key));
        connect(*adjust.slot, &QAction::triggered, this,
                [this, b = adjust.brightness, c = adjust.contrast] { adjustBy(b, c); });
    }
    a.resetAdjustment = makeAction(QString(), translateText("重置亮度和对比度"));
    a.resetAdjustment->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_0));
    connect(a.resetAdjustment, &QAction::triggered, this, [this] { setAdjustment(ImageAdjustment()); });

    a.modeGroup = new QActionGroup(a.parent);
    a.modeGroup->setExclusive(true);
    const int sceneMode = m_scene->mode();
    // The toolbar shows the short texts: the long ones do not fit beside the icons in every language.
    const struct { QAction **slot; int mode; QString text; QString shortText; const char *key; } modes[] = {
        {&a.rectMode, AnnotationScene::RectMode, translateText("画框模式"), translateText("画框"), "W"},
        {&a.polyMode, AnnotationScene::PolygonMode, translateText("多边形模式"), translateText("多边形"), "P"},
        {&a.rotatedMode, AnnotationScene::RotatedMode, translateText("旋转框模式"), translateText("旋转框"), "R"},
        {&a.editMode, AnnotationScene::SelectMode, translateText("选择模式"), translateText("选择"), "E"},
    };
    for (const auto &m : modes) {
        QAction *action = makeAction(modeIconName(m.mode, false), m.text);
        action->setIconText(m.shortText);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(m.text, QLatin1String(m.key)));
        action->setCheckable(true);
        action->setShortcut(QKeySequence(QLatin1String(m.key)));
        action->setData(m.mode);
        a.modeGroup->addAction(action);
        *m.slot = action;
        connect(action, &QAction::toggled, this, [this, action](bool on) {
            action->setIcon(icon(modeIconName(action->data().toInt(), on)));
            if (on)
                setModeFromAction(action);
        });
    }
    // The action of the scene's mode comes back checked after a rebuild.
    const QList<QAction *> modeActions = a.modeGroup->actions();
    for (QAction *action : modeActions) {
        if (action->data().toInt() == sceneMode)
            action->setChecked(true);
    }

    const struct { QAction **slot; QString text; const char *key; double degrees; } turns[] = {
        {&a.turnBack, translateText("逆时针旋转 1°"), "Z", -1},
        {&a.turnOn, translateText("顺时针旋转 1°"), "X", 1},
        {&a.turnBackFar, translateText("逆时针旋转 15°"), "Shift+Z", -15},
        {&a.turnOnFar, translateText("顺时针旋转 15°"), "Shift+X", 15},
    };
    for (const auto &t : turns) {
        QAction *action = makeAction(QString(), t.text);
        action->setShortcut(QKeySequence(QLatin1String(t.key)));
        action->setAutoRepeat(true);
        const double degrees = t.degrees;
        connect(action, &QAction::triggered, this, [this, degrees] { m_scene->turnSelected(degrees); });
        *t.slot = action;
    }

    a.dontAskCategory = makeAction(QString(), translateText("不询问类别，直接使用当前类别"));
    a.dontAskCategory->setCheckable(true);
    a.dontAskCategory->setChecked(m_dontAskCategory);
    connect(a.dontAskCategory, &QAction::toggled, this, &MainWindow::setDontAskCategory);

    a.prevPending = makeAction(QString(), translateText("上一个待确认框"));
    a.prevPending->setShortcut(QKeySequence(QStringLiteral("A")));
    a.nextPending = makeAction(QString(), translateText("下一个待确认框"));
    a.nextPending->setShortcut(QKeySequence(QStringLiteral("D")));
    a.confirmCurrent = makeAction(QString(), translateText("确认当前 ⚡ 框"));
    a.confirmCurrent->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    connect(a.prevPending, &QAction::triggered, m_editor, [this] { m_editor->stepPending(-1); });
    // D on an image without results goes on to the next image that has some.
    connect(a.nextPending, &QAction::triggered, this, [this] {
        if (!m_editor->stepPending(1) && !reviewNextImage(true))
            m_toast->showMessage(translateText("全部待确认结果已处理完"));
    });
    connect(a.confirmCurrent, &QAction::triggered, this, &MainWindow::confirmCurrent);
    a.markChecked = makeAction(QStringLiteral("verified"), translateText("标记为已检查"));
    a.markChecked->setIconText(translateText("已检查"));
    a.markChecked->setToolTip(translateText("标记为已检查：没有目标的图片存为背景图（空标注文件），有标注的图片保存")
                              + QStringLiteral(" (V)"));
    a.markChecked->setShortcut(QKeySequence(QStringLiteral("V")));
    connect(a.markChecked, &QAction::triggered, this, &MainWindow::markChecked);

    a.formatGroup = new QActionGroup(a.parent);
    a.formatGroup->setExclusive(true);
    a.formatVoc = new QAction(QStringLiteral("Pascal VOC XML"), a.parent);
    a.formatYolo = new QAction(QStringLiteral("YOLO txt"), a.parent);
    a.formatLabelme = new QAction(QStringLiteral("labelme JSON"), a.parent);
    for (QAction *action : {a.formatVoc, a.formatYolo, a.formatLabelme}) {
        action->setCheckable(true);
        a.formatGroup->addAction(action);
    }
    const LabelFormat shown = m_session->folderFormat();
    (shown == LabelFormat::Yolo ? a.formatYolo : shown == LabelFormat::Labelme ? a.formatLabelme : a.formatVoc)
        ->setChecked(true);
    connect(a.formatVoc, &QAction::triggered, this, [this] { setFolderFormat(LabelFormat::Voc); });
    connect(a.formatYolo, &QAction::triggered, this, [this] { setFolderFormat(LabelFormat::Yolo); });
    connect(a.formatLabelme, &QAction::triggered, this, [this] { setFolderFormat(LabelFormat::Labelme); });
    a.convertToVoc = makeAction(QString(), translateText("将整个目录转换为 %1…").arg(QStringLiteral("VOC XML")));
    a.convertToYolo = makeAction(QString(), translateText("将整个目录转换为 %1…").arg(QStringLiteral("YOLO")));
    a.convertToLabelme = makeAction(QString(), translateText("将整个目录转换为 %1…").arg(QStringLiteral("labelme JSON")));
    connect(a.convertToVoc, &QAction::triggered, this, [this] { convertFolder(LabelFormat::Voc); });
    connect(a.convertToYolo, &QAction::triggered, this, [this] { convertFolder(LabelFormat::Yolo); });
    a.convertToDota = makeAction(QString(), translateText("将整个目录转换为 %1…").arg(QStringLiteral("DOTA")));
    a.convertToDota->setEnabled(false);
    connect(a.convertToLabelme, &QAction::triggered, this, [this] { convertFolder(LabelFormat::Labelme); });
    connect(a.convertToDota, &QAction::triggered, this, [this] { convertFolder(LabelFormat::Dota); });

    for (int i = 0; i < 9; ++i) {
        a.numberKeys[i] = new QAction(a.parent);
        a.numberKeys[i]->setShortcut(QKeySequence(QString::number(i + 1)));
        a.numberKeys[i]->setShortcutContext(Qt::WindowShortcut);
        addAction(a.numberKeys[i]);
        connect(a.numberKeys[i], &QAction::triggered, this, [this, i] { applyNumberKey(i + 1); });
    }

    a.autoLabel = makeAction(QStringLiteral("bolt"), translateText("自动标注"));
    a.autoLabel->setShortcut(QKeySequence(QStringLiteral("Ctrl+G")));
    a.modelSettings = makeAction(QStringLiteral("gear"), translateText("模型设置"));
    connect(a.autoLabel, &QAction::triggered, this, [this] { startAutoLabel(false, false); });
    connect(a.modelSettings, &QAction::triggered, this, [this] { startAutoLabel(true, false); });
    a.checkServer = makeAction(QString(), translateText("检查服务状态"));
    connect(a.checkServer, &QAction::triggered, m_client, &VllmClient::probeServer);

    a.shortcuts = makeAction(QString(), translateText("快捷键一览"));
    a.shortcuts->setShortcut(QKeySequence(QStringLiteral("F1")));
    connect(a.shortcuts, &QAction::triggered, this, &MainWindow::showShortcuts);
    a.about = makeAction(QString(), translateText("关于 Brindlemark"));
    connect(a.about, &QAction::triggered, this, [this] { showAboutBox(this); });

    a.prevImage = makeAction(QStringLiteral("prev"), translateText("上一张"));
    a.prevImage->setToolTip(translateText("上一张") + QStringLiteral(" (←)"));
    a.prevImage->setShortcut(QKeySequence(Qt::Key_Left));
    connect(a.prevImage, &QAction::triggered, this, [this] { stepImage(-1); });
    a.nextImage = makeAction(QStringLiteral("next"), translateText("下一张"));
    a.nextImage->setToolTip(translateText("下一张") + QStringLiteral(" (→)"));
    a.nextImage->setShortcut(QKeySequence(Qt::Key_Right));
    connect(a.nextImage, &QAction::triggered, this, [this] { stepImage(1); });
    // The arrows nudge a selected shape; these step whatever is selected.
    a.pageImages[0] = new QAction(a.parent);
    a.pageImages[0]->setShortcut(QKeySequence(Qt::Key_PageUp));
    a.pageImages[1] = new QAction(a.parent);
    a.pageImages[1]->setShortcut(QKeySequence(Qt::Key_PageDown));
    for (int i = 0; i < 2; ++i) {
        a.pageImages[i]->setShortcutContext(Qt::WindowShortcut);
        addAction(a.pageImages[i]);
        connect(a.pageImages[i], &QAction::triggered, this, [this, i] { stepImage(i == 0 ? -1 : 1); });
    }
    a.check = makeAction(QStringLiteral("check"), translateText("检查标注"));
    a.check->setIconText(translateText("检查"));
    connect(a.check, &QAction::triggered, this, &MainWindow::startCheck);
    a.check->setEnabled(!m_checkRun->isReviewing());
    a.check->setToolTip(translateText("检查已标注图片：越界框/过小框/重复框/未知类别/格式冲突"));

    buildMenus();
    buildToolbar();
    rebuildRecentMenu();
    showVisibility();
}

void MainWindow::buildMenus()
{
    WindowActions &a = m_actions;
    QMenuBar *bar = menuBar();

    QMenu *file = bar->addMenu(translateText("文件"));
    file->addAction(a.open);
    a.recentMenu = file->addMenu(translateText("最近目录"));
    file->addSeparator();
    file->addAction(a.save);
    file->addAction(a.importCoco);
    file->addAction(a.reloadLabels);
    file->addSeparator();
    file->addAction(a.quit);

    QMenu *edit = bar->addMenu(translateText("编辑"));
    edit->addAction(a.undo);
    edit->addAction(a.redo);
    edit->addSeparator();
    edit->addAction(a.deleteSelected);
    edit->addAction(a.copyPrevious);
    edit->addSeparator();
    edit->addAction(a.confirmAll);
    edit->addAction(a.rejectAll);

    QMenu *view = bar->addMenu(translateText("视图"));
    view->addAction(a.zoomIn);
    view->addAction(a.zoomOut);
    view->addAction(a.zoomFit);
    view->addAction(a.zoom100);
    view->addSeparator();
    view->addAction(a.toggleFileList);
    view->addAction(a.toggleObjectPanel);
    view->addSeparator();
    view->addAction(a.hideShapes);
    QMenu *adjust = view->addMenu(translateText("亮度和对比度"));
    adjust->addAction(a.brightnessUp);
    adjust->addAction(a.brightnessDown);
    adjust->addAction(a.contrastUp);
    adjust->addAction(a.contrastDown);
    adjust->addSeparator();
    adjust->addAction(a.resetAdjustment);

    QMenu *annotate = bar->addMenu(translateText("标注"));
    annotate->addAction(a.rectMode);
    annotate->addAction(a.polyMode);
    annotate->addAction(a.rotatedMode);
    annotate->addAction(a.editMode);
    annotate->addSeparator();
    for (QAction *turn : {a.turnBack, a.turnOn, a.turnBackFar, a.turnOnFar})
        annotate->addAction(turn);
    annotate->addSeparator();
    annotate->addAction(a.dontAskCategory);
    annotate->addSeparator();
    annotate->addAction(a.prevPending);
    annotate->addAction(a.nextPending);
    annotate->addAction(a.confirmCurrent);
    annotate->addSeparator();
    annotate->addAction(a.markChecked);
    annotate->addSeparator();
    QMenu *format = annotate->addMenu(translateText("导出格式"));
    format->addAction(a.formatVoc);
    format->addAction(a.formatYolo);
    format->addAction(a.formatLabelme);
    format->addSeparator();
    format->addAction(a.convertToVoc);
    format->addAction(a.convertToYolo);
    format->addAction(a.convertToLabelme);
    format->addAction(a.convertToDota);

    QMenu *model = bar->addMenu(translateText("模型"));
    model->addAction(a.autoLabel);
    model->addAction(a.modelSettings);
    model->addSeparator();
    model->addAction(a.checkServer);

    QMenu *language = bar->addMenu(translateText("语言"));
    a.languageGroup = new QActionGroup(a.parent);
    a.languageGroup->setExclusive(true);
    const QString currentCode = currentLanguageCode();
    for (const auto &[code, name] : languageList()) {
        auto *action = new QAction(name, a.parent);
        action->setCheckable(true);
        action->setData(code);
        action->setChecked(code == currentCode);
        a.languageGroup->addAction(action);
        language->addAction(action);
        connect(action, &QAction::triggered, this, [this, code = code] { switchLanguage(code); });
    }

    QMenu *help = bar->addMenu(translateText("帮助"));
    help->addAction(a.shortcuts);
    help->addAction(a.about);
}

void MainWindow::buildToolbar()
{
    WindowActions &a = m_actions;
    a.toolbar = new QToolBar(QStringLiteral("main"), this);
    a.toolbar->setObjectName(QStringLiteral("mainToolbar"));
    a.toolbar->setMovable(false);
    a.toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    a.toolbar->setIconSize(QSize(20, 20));
    a.toolbar->setStyleSheet(QStringLiteral(
        "QToolBar{padding:0px 8px;} QToolButton{padding:2px 8px; min-height:26px; max-height:26px;} "
        "QToolButton#primary{background:#4C8DFF;border-color:#4C8DFF;color:white;} "
        "QToolButton#primary:hover{background:#5E9BFF;}"));
    a.toolbar->addAction(a.open);
    a.toolbar->addAction(a.prevImage);
    a.toolbar->addAction(a.nextImage);
    a.toolbar->addAction(a.save);
    a.toolbar->addAction(a.markChecked);
    a.toolbar->addSeparator();
    a.toolbar->addAction(a.rectMode);
    a.toolbar->addAction(a.polyMode);
    a.toolbar->addAction(a.rotatedMode);
    a.toolbar->addAction(a.editMode);
    a.toolbar->addAction(a.deleteSelected);
    a.toolbar->addAction(a.hideShapes);
    a.toolbar->addSeparator();
    a.toolbar->addAction(a.check);
    a.toolbar->addAction(a.autoLabel);
    a.toolbar->addAction(a.modelSettings);
    addToolBar(a.toolbar);
    // The arrows and the gear speak for themselves; their room keeps the toolbar whole in long
    // languages.
    for (QAction *arrow : {a.prevImage, a.nextImage, a.hideShapes, a.modelSettings}) {
        if (auto *button = qobject_cast<QToolButton *>(a.toolbar->widgetForAction(arrow)))
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    makePrimary(a.toolbar, a.save);
    makePrimary(a.toolbar, a.autoLabel);
}

void MainWindow::rebuildRecentMenu()
{
    QMenu *menu = m_actions.recentMenu;
    if (!menu)
        return;
    menu->clear();
    const QStringList recent = WindowSettings::recentDirectories();
    for (const QString &dir : recent) {
        QAction *action = menu->addAction(QDir::toNativeSeparators(dir));
        connect(action, &QAction::triggered, this, [this, dir] { openDirectory(dir); });
    }
    menu->setEnabled(!recent.isEmpty());
}

void MainWindow::setModeFromAction(QAction *action)
{
    const int mode = action->data().toInt();
    m_scene->setMode(mode);
    m_view->setCanvasCursor(mode == AnnotationScene::SelectMode ? Qt::ArrowCursor : Qt::CrossCursor);
    updateCanvasHint();
}

void MainWindow::showVisibility()
{
    const bool all = m_scene->allHidden();
    if (QAction *toggle = m_actions.hideShapes) {
        const QSignalBlocker block(toggle);
        toggle->setChecked(all);
        toggle->setIcon(icon(all ? QStringLiteral("eye_off") : QStringLiteral("eye")));
    }
    m_objectPanel->setVisibility(all, m_scene->hiddenLabels());
}

void MainWindow::switchLanguage(const QString &code)
{
    if (code == currentLanguageCode())
        return;
    setLanguage(code);

    delete m_actions.parent;
    m_actions.parent = nullptr;
    menuBar()->clear();
    const QList<QMenu *> menus = findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
    for (QMenu *menu : menus)
        delete menu;
    const QList<QToolBar *> toolbars = findChildren<QToolBar *>();
    for (QToolBar *toolbar : toolbars)
        delete toolbar;

    buildActions();
    updateOutlineModes();

    retranslateWidgets();
    m_status->retranslate();
    m_adjustmentPopup->retranslate();
    updateModelIndicator();
    updateSavedIndicator();
    updateCategoryIndicator();
    updateTitle();
    m_fileList->retranslate();
    m_objectPanel->retranslate();
    m_progress->retranslate();
    if (m_checkDialog)
        m_checkDialog->retranslate();
    if (m_autoLabelDialog)
        m_autoLabelDialog->retranslate();
    refreshObjects();
    refreshCategories();
    m_session->refreshImageState(currentImagePath());
    refreshStatus();
}

void MainWindow::showShortcuts()
{
    showShortcutDialog(this);
}
