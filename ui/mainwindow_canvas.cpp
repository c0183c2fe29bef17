#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "session/categoryhistory.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/datasetlayout.h"
#include "ui/adjustmentpopup.h"
#include "ui/annotationeditor.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imagestepper.h"
#include "ui/launchdecode.h"
#include "ui/launchgate.h"
#include "ui/labeldialog.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/toastwidget.h"
#include "ui/windowfit.h"
#include "ui/windowsettings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

bool MainWindow::showImage(const QString &path)
{
    if (path.isEmpty() || path == currentImagePath())
        return !path.isEmpty();
    if (m_editor->isLoading())
        return false;
    logTiming(QStringLiteral("image requested ") + path);
    // Holding a key steps every few milliseconds: the decoders of the images shown come first.
    m_fileList->holdThumbnails(250);
    if (m_editor->isDirty() && !saveCurrent()) {
        m_fileList->selectPath(currentImagePath(), true);
        return false;
    }
    m_session->flushPending();

    const DecodedImage decoded = m_stepper->decode(path);
    if (decoded.isNull()) {
        const QString name = QFileInfo(path).fileName();
        m_toast->showMessage(decoded.tooLarge ? translateText("图片过大：%1").arg(name)
                                              : translateText("图片解码失败：%1").arg(name));
        m_fileList->selectPath(currentImagePath(), true);
        return false;
    }
    installImage(path, decoded);
    return true;
}

void MainWindow::beginLaunchDecode(const QString &dir, const QString &preferredImage)
{
    const QSize window = isMaximized() ? screen()->availableGeometry().size() : size();
    const QSize area = expectedFitArea(window, WindowSettings::fileListWidth()) * screen()->devicePixelRatio();
    if (!preferredImage.isEmpty())
        m_launchDecode->begin(preferredImage, area);
    // On the listing's thread, as soon as it knows its first image.
    connect(m_session, &FolderSession::firstImageListed, m_launchDecode,
            [decode = m_launchDecode, area](const QString &, const QString &path) { decode->begin(path, area); },
            Qt::DirectConnection);
    connect(m_launchDecode, &LaunchDecode::arrived, this, [this](const DecodedImage &image, const QString &wanted) {
        m_stepper->hold(image);
        if (!wanted.isEmpty() && currentImagePath().isEmpty())
            showWantedImage(wanted);
    });
    m_session->prelist(dir);
}

void MainWindow::showWantedImage(const QString &path)
{
    // The launch's first image is on its way from its own thread: shown when it arrives.
    if (m_launchDecode->isUnderWay()) {
        m_launchDecode->showWhenArrived(path);
        return;
    }
    // A folder whose first image cannot be decoded opens at the next one that can.
    if (!showImage(path) && currentImagePath().isEmpty() && !m_editor->isDirty()) {
        m_launch->endWhenIdle();   // no first image to wait for
        // Wanted again as the listing goes on: one step once launched, not one per wish.
        m_launch->whenDone([this] {
            if (currentImagePath().isEmpty())
                stepImage(1);
        });
    }
}

void MainWindow::installImage(const QString &path, const DecodedImage &decoded)
{
    m_editor->setLoading(true);
    const QString previous = currentImagePath();
    const QList<Annotation> annotations = m_session->enterImage(path);
    m_stepper->install(decoded);
    m_editor->enter(previous, path, annotations);
    m_editor->setOutlinesRefused(!m_session->keypointRowsFile(path).isEmpty());
    showKeptShapes();
    m_editor->setLoading(false);
    updateOutlineModes();

    m_fileList->selectPath(path, true);
    // Finding the dataset's class list may read a folder of 100,000 names: not before the first paint.
    if (m_launch->isDone())
        updateClassList(false);
    else
        m_launch->whenDone([this] { updateClassList(false); });
    updateTitle();
    updateSavedIndicator();
    updateEmptyState();
    refreshPanels();
    // At the launch the neighbours are decoded from the first image's paint on, not after the
    // launch: the folder's order is known before the file list's rows are in.
    m_stepper->settle(path, !m_launch->isDone());
    if (!m_launch->isDone()) {
        m_launch->endAfterPaintOf(m_view->viewport());
        // The rows come after the first image's paint; with them, the filter is known.
        m_launch->whenDone([this] {
            m_fileList->selectPath(currentImagePath(), true);
            m_stepper->prefetchNeighbours();
        });
    }
}

void MainWindow::forgetCurrentImage()
{
    m_editor->setLoading(true);
    m_session->leaveImage();
    m_stepper->forget();
    m_editor->clear();
    m_editor->setOutlinesRefused(false);
    m_editor->setLoading(false);
    updateOutlineModes();
}

namespace {

QString outlinesRefusedHint()
{
    return translateText("此数据集的每行只能是带关键点的框，不能画多边形或旋转框");
}

QString outlinesKeptText(int kept)
{
    return translateText("%1 个多边形或旋转框仍待确认：此数据集的每行只能是带关键点的框").arg(kept);
}

} // namespace

void MainWindow::updateOutlineModes()
{
    const bool refused = m_editor->outlinesRefused();
    for (QAction *action : {m_actions.polyMode, m_actions.rotatedMode}) {
        if (!action)
            continue;
        action->setEnabled(!refused);
        action->setToolTip(refused ? outlinesRefusedHint()
                                   : QStringLiteral("%1 (%2)").arg(action->text(), action->shortcut().toString()));
        action->setStatusTip(refused ? outlinesRefusedHint() : QString());
    }
    if (refused && m_actions.rectMode
        && (m_scene->mode() == AnnotationScene::PolygonMode || m_scene->mode() == AnnotationScene::RotatedMode))
        m_actions.rectMode->setChecked(true);
    if (refused)
        m_status->setMessage(outlinesRefusedHint());
    else if (m_status->message() == outlinesRefusedHint())
        m_status->setMessage(QString());
}

void MainWindow::showKeptShapes()
{
    const QString path = currentImagePath();
    m_scene->setKeptShapes(path.isEmpty() ? QList<KeptShape>() : m_session->keptShapes(path));
}

void MainWindow::stepImage(int step)
{
    if (step == 0)
        return;
    // The file list's rows, which the step follows, come once the first image is painted: the
    // step is taken after every row that waited meanwhile is in.
    if (!m_launch->isDone()) {
        m_launch->whenDone([this, step] { QTimer::singleShot(0, this, [this, step] { stepImage(step); }); });
        return;
    }
    const QStringList &paths = m_session->imagePaths();
    const qsizetype n = paths.size();
    const QString current = currentImagePath();
    // A large folder shows an image before the rest is listed (the image last shown there, or
    // the first one read): the step is taken once it and the next one are listed.
    const bool unlisted = !current.isEmpty() && m_session->indexOf(current) < 0;
    if (m_session->isListing() && unlisted) {
        m_stepper->deferStep(step);
        return;
    }
    if (n == 0)
        return;
    m_stepper->noteDirection(step);
    // Without an image shown, a step forward starts at the first image.
    const qsizetype c = current.isEmpty() && step > 0 ? -1 : std::max<qsizetype>(0, m_session->indexOf(current));
    if (step > 0 && m_session->isListing() && c + 1 >= n) {
        m_stepper->deferStep(step);
        return;
    }
    m_stepper->beginStep();
    const auto stepEnded = qScopeGuard([this] { m_stepper->endStep(); });
    // Images that cannot be decoded are stepped over, not stopped at: the step goes on.
    QStringList skipped;
    for (qsizetype i = 1; i <= n; ++i) {
        const QString &candidate = paths.at(((c + i * step) % n + n) % n);
        if (!m_fileList->isShown(candidate))
            continue;
        if (candidate == current || showImage(candidate))
            break;
        if (m_editor->isDirty())
            return;   // the image shown could not be saved: the user stays, told why
        skipped.append(QFileInfo(candidate).fileName());
    }
    if (!skipped.isEmpty())
        m_toast->showMessage(translateText("无法解码，已跳过：%1").arg(skipped.join(QStringLiteral(", "))));
}

void MainWindow::setAdjustment(const ImageAdjustment &adjustment)
{
    const ImageAdjustment a = adjustment.clamped();
    m_status->setAdjustment(a);
    m_adjustmentPopup->setAdjustment(a);
    m_stepper->setAdjustment(a);
}

void MainWindow::adjustBy(int brightness, int contrast)
{
    const ImageAdjustment now = m_stepper->adjustment();
    setAdjustment({now.brightness + brightness, now.contrast + contrast});
}

void MainWindow::onEdited()
{
    updateSavedIndicator();
    refreshPanels();
}

void MainWindow::updateClassList(bool reread)
{
    if (m_session->categories()->showImage(currentImagePath(), reread))
        refreshCategories();
}

namespace {

// The label dialog's list: the names used most recently first, then the rest of the panel's.
QStringList offeredLabels(const QStringList &recent, const QStringList &rows)
{
    QStringList offered = recent;
    for (const QString &name : rows) {
        if (!offered.contains(name))
            offered.append(name);
    }
    return offered;
}

} // namespace

void MainWindow::addDrafted(const Annotation &draft)
{
    if (!m_editor->hasImage())
        return;
    const QString current = categories()->lastLabel();
    if (m_dontAskCategory && !current.isEmpty()) {
        m_editor->addShape(draft, current);
        return;
    }
    bool dontAsk = m_dontAskCategory;
    // The shape stays in sight while it is named, and the dialog keeps off it.
    m_scene->showNaming(draft);
    const QRect onScreen = m_view->mapFromScene(m_scene->namingRect()).boundingRect();
    const QRect shape(m_view->viewport()->mapToGlobal(onScreen.topLeft()), onScreen.size());
    const QString label = LabelDialog::askLabel(this, offeredLabels(categories()->recentLabels(), categoryRows()),
                                                current, nullptr, translateText("输入类别"), &dontAsk, shape);
    m_scene->endNaming();
    if (label.isEmpty() || !acceptCategories({label}))
        return;   // cancelled: the drawn shape is dropped, nothing to undo
    m_editor->addShape(draft, label);
    setDontAskCategory(dontAsk);
}

void MainWindow::chooseCurrentCategory()
{
    // The dialog a drawn shape asks with, and its "don't ask" box.
    bool dontAsk = m_dontAskCategory;
    const QString label = LabelDialog::askLabel(this, offeredLabels(categories()->recentLabels(), categoryRows()),
                                                categories()->lastLabel(), nullptr, translateText("当前类别"), &dontAsk);
    if (label.isEmpty() || !acceptCategories({label}))
        return;
    categories()->remember(label);
    categories()->setLastLabel(label);
    setDontAskCategory(dontAsk);
    refreshCategories();
    updateCategoryIndicator();
}

void MainWindow::editCategory(uint id)
{
    const std::optional<Annotation> current = m_editor->annotation(id);
    if (!current)
        return;
    const QString label = LabelDialog::askLabel(this, offeredLabels(categories()->recentLabels(), categoryRows()),
                                                current->label, nullptr, translateText("修改类别"));
    if (!label.isEmpty() && !acceptCategories({label}))
        return;
    if (m_editor->relabel(id, label) && current->pending == 1 && m_editor->annotation(id)->pending == 1)
        m_toast->showMessage(outlinesKeptText(1));
}

void MainWindow::applyNumberKey(int number)
{
    const QString label = m_objectPanel->categoryAtRow(number - 1);
    if (label.isEmpty() || !m_editor->hasImage())
        return;
    const AnnotationEditor::CategoryKey done = m_editor->applyCategoryKey(label);
    if (done.nextShape)
        m_toast->showMessage(m_scene->nextCategoryText().arg(label));
    else if (done.relabelled > 0 && done.outlinesKept > 0)
        m_toast->showMessage(translateText("%1 个标注 → %2（Ctrl+Z）").arg(done.relabelled).arg(label) + QLatin1Char('\n')
                             + outlinesKeptText(done.outlinesKept));
    else if (done.relabelled > 0)
        m_toast->showMessage(translateText("%1 个标注 → %2（Ctrl+Z）").arg(done.relabelled).arg(label));
}

void MainWindow::requestCategoryDelete(const QString &label, int annotationCount)
{
    if (label.isEmpty())
        return;
    const QStringList paths = m_session->imagePaths();
    if (paths.isEmpty()) {
        deleteCategory(label, annotationCount);
        return;
    }
    // The folder's label files are read on a worker; the question comes when the count does.
    setCursor(Qt::BusyCursor);
    m_session->categories()->countUsage(label, paths, currentImagePath());
}

void MainWindow::onCategoryUsageCounted(const QString &label, int files)
{
    unsetCursor();
    if (files > 0) {
        QMessageBox box(QMessageBox::Question, translateText("删除类别"),
                        translateText("类别「%1」还用在本目录 %2 个已保存的标注文件中。\n删除后它不再出现在类别列表中，"
                                      "打开这些图片时也不会回来；这些文件保持不变。")
                            .arg(label)
                            .arg(files),
                        QMessageBox::NoButton, this);
        QPushButton *remove = box.addButton(translateText("删除"), QMessageBox::DestructiveRole);
        QPushButton *cancel = box.addButton(translateText("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() != remove)
            return;
    }
    // The image shown may have changed while the files were counted.
    int shapes = 0;
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations)
        shapes += a.label == label ? 1 : 0;
    deleteCategory(label, shapes);
}

void MainWindow::deleteCategory(const QString &label, int annotationCount)
{
    if (label.isEmpty())
        return;
    m_editor->deleteCategory(label, annotationCount);
    refreshCategories();
    m_toast->showMessage(annotationCount <= 0
                             ? translateText("已删除类别 %1").arg(label)
                             : translateText("已删除类别 %1（含 %2 个标注）").arg(label).arg(annotationCount));
}

void MainWindow::addCategory()
{
    // A new category: nothing offered in the field, the known ones listed below it.
    const QString label = LabelDialog::askLabel(this, offeredLabels(categories()->recentLabels(), categoryRows()),
                                                QString(), nullptr, translateText("新增类别"));
    if (label.isEmpty() || !acceptCategories({label}))
        return;
    categories()->remember(label);
    categories()->setLastLabel(label);
    refreshCategories();
}

bool MainWindow::acceptCategories(const QStringList &labels)
{
    DatasetCategories *dataset = m_session->categories();
    const QStringList lacked = dataset->lackedByNamesFile(labels);
    if (lacked.isEmpty())
        return true;
    const QString file = QDir::toNativeSeparators(dataset->namesFile());
    const QString names = lacked.join(QStringLiteral(", "));
    // One class list per dataset: a second one beside their file would be read by no other tool.
    QMessageBox box(QMessageBox::Question, translateText("加入类别表"),
                    translateText("类别「%1」不在本数据集的类别表 %2 中。\n要把它加到该文件末尾吗？"
                                  "文件的其余内容保持不变；不加入则不使用这个类别。")
                        .arg(names, file),
                    QMessageBox::NoButton, this);
    QPushButton *add = box.addButton(translateText("加入"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(translateText("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(add);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() != add)
        return false;
    if (!dataset->addToNamesFile(lacked)) {
        m_toast->showMessage(translateText("无法把类别「%1」加入 %2，未使用这个类别").arg(names, file));
        return false;
    }
    refreshCategories();
    m_toast->showMessage(translateText("已把类别「%1」加入 %2").arg(names, file));
    return true;
}

void MainWindow::copyPreviousShapes()
{
    if (!m_editor->hasImage())
        return;
    const QString current = currentImagePath();
    const QString previous = m_session->previousInFolder(current);
    if (previous.isEmpty()) {
        m_toast->showMessage(translateText("这是目录中的第一张图片，没有上一张"));
        return;
    }
    const QString name = QFileInfo(previous).fileName();
    const FolderSession::CarriedShapes carried = m_session->carryShapes(previous, current);
    const AnnotationEditor::CopyOutcome copied = m_editor->copyShapes(carried.shapes);
    const QString refusedText =
        translateText("%1 个多边形或旋转框未复制：此数据集的每行只能是带关键点的框").arg(copied.outlinesRefused);
    if (copied.copied == 0 && copied.outlinesRefused > 0 && carried.outside == 0) {
        m_toast->showMessage(refusedText);
        return;
    }
    if (copied.nothingToCopy && carried.outside == 0) {
        m_toast->showMessage(translateText("上一张图片 %1 没有可复制的标注").arg(name));
        return;
    }
    if (copied.copied == 0 && carried.outside == 0) {
        m_toast->showMessage(translateText("%1 的标注都已在本图中").arg(name));
        return;
    }
    QString text = translateText("已从 %1 复制 %2 个标注").arg(name, QString::number(copied.copied));
    if (carried.outside > 0)
        text += translateText("，%1 个落在本图之外，未复制").arg(carried.outside);
    if (copied.outlinesRefused > 0)
        text += QLatin1Char('\n') + refusedText;
    m_toast->showMessage(text);
}

void MainWindow::showAnnotationMenu(uint id, const QPoint &globalPos)
{
    const std::optional<Annotation> current = m_editor->annotation(id);
    if (!current)
        return;
    QMenu menu(this);
    QAction *relabel = menu.addAction(translateText("改类别…"));
    menu.addSeparator();
    QAction *confirm = current->pending == 1 ? menu.addAction(translateText("确认 ⚡")) : nullptr;
    QAction *difficult = menu.addAction(translateText("设为困难样本"));
    difficult->setCheckable(true);
    difficult->setChecked(current->difficult);
    QAction *turn = nullptr;
    if (current->kind == Annotation::Rect) {
        turn = menu.addAction(translateText("转为旋转框"));
        if (m_editor->outlinesRefused()) {
            turn->setEnabled(false);
            turn->setToolTip(outlinesRefusedHint());
            menu.setToolTipsVisible(true);
        }
    } else if (current->kind == Annotation::Rotated) {
        turn = menu.addAction(translateText("转为正框"));
    }
    // A flag the file cannot keep would be gone at the next opening without a word.
    if (!m_session->keepsDifficultFlag(currentImagePath())) {
        difficult->setEnabled(false);
        difficult->setToolTip(translateText("YOLO 标注文件无法保存“困难”标记"));
        menu.setToolTipsVisible(true);
    }
    menu.addSeparator();
    QAction *remove = menu.addAction(translateText("删除"));
    QAction *chosen = menu.exec(globalPos);
    if (!chosen)
        return;
    if (chosen == relabel)
        editCategory(id);
    else if (confirm && chosen == confirm)
        confirmOne(id);
    else if (chosen == difficult)
        m_editor->toggleDifficult(id);
    else if (turn && chosen == turn)
        m_editor->toggleRotated(id);
    else if (chosen == remove)
        m_editor->deleteSelected();
}

void MainWindow::confirmCurrent()
{
    const AnnotationEditor::Review done = m_editor->confirmCurrent();
    if (done.alreadyConfirmed)
        m_toast->showMessage(translateText("该框已是已确认状态"));
    else if (done.outlinesKept > 0)
        toastOutlinesKept(done.confirmed, done.outlinesKept);
    else if (done.confirmed >= 2)
        m_toast->showMessage(translateText("已确认 %1 个标注").arg(done.confirmed));
    if (done.confirmed > 0)
        afterReview(done.noneLeft, true);
}

void MainWindow::confirmOne(uint id)
{
    const AnnotationEditor::Review done = m_editor->confirmAndAdvance(id);
    if (done.outlinesKept > 0)
        toastOutlinesKept(done.confirmed, done.outlinesKept);
    afterReview(done.noneLeft, false);
}

void MainWindow::escape()
{
    const AnnotationEditor::Review done = m_editor->escape();
    if (done.rejected > 0)
        afterReview(done.noneLeft, true);
}

void MainWindow::afterReview(bool noneLeft, bool keyboard)
{
    // Enter and Esc go on to the next image with results: a folder is reviewed without the mouse.
    if (!noneLeft || !keyboard)
        return;
    if (!reviewNextImage())
        m_toast->showMessage(translateText("全部待确认结果已处理完"));
}

bool MainWindow::reviewNextImage(bool pointed)
{
    const QStringList paths = m_session->imagePaths();
    const QString current = currentImagePath();
    const qsizetype n = paths.size();
    const qsizetype c = m_session->indexOf(current);
    for (qsizetype i = 1; i <= n; ++i) {
        const QString &candidate = paths.at(((c < 0 ? -1 : c) + i) % n);
        if (candidate == current || m_session->imageState(candidate).pending <= 0 || !m_fileList->isShown(candidate))
            continue;
        showImage(candidate);
        if (currentImagePath() == candidate)
            m_editor->stepPending(1, pointed);
        return true;
    }
    return false;
}

void MainWindow::confirmAll()
{
    int outlinesKept = 0;
    const int confirmed = m_editor->confirmAll(&outlinesKept);
    if (outlinesKept > 0)
        toastOutlinesKept(confirmed, outlinesKept);
    else if (confirmed > 0)
        m_toast->showMessage(translateText("已确认 %1 个标注").arg(confirmed));
}

void MainWindow::toastOutlinesKept(int confirmed, int kept)
{
    QString text = outlinesKeptText(kept);
    if (confirmed > 0)
        text = translateText("已确认 %1 个标注").arg(confirmed) + QLatin1Char('\n') + text;
    m_toast->showMessage(text);
}

void MainWindow::rejectAll()
{
    const int rejected = m_editor->rejectAll();
    if (rejected > 0)
        m_toast->showMessage(translateText("已拒绝 %1 个标注").arg(rejected));
}

void MainWindow::showKeypointHint()
{
    const uint id = m_scene->selectedId();
    qsizetype count = 0;
    for (const Annotation &a : m_scene->annotations()) {
        if (id != 0 && a.id == id)
            count = a.keypoints.points.size();
    }
    const QString hint = translateText("此框的 %1 个关键点会原样保留，此处不能编辑");
    if (count > 0) {
        m_status->setMessage(hint.arg(count));
        return;
    }
    // Only our own hint gives way: the polygon tool's stays while it draws.
    QStringList parts = hint.split(QLatin1String("%1"));
    for (QString &part : parts)
        part = QRegularExpression::escape(part);
    const QRegularExpression ours(QLatin1Char('^') + parts.join(QLatin1String("\\d+")) + QLatin1Char('$'));
    if (ours.match(m_status->message()).hasMatch())
        m_status->setMessage(m_editor->outlinesRefused() ? outlinesRefusedHint() : QString());
}
