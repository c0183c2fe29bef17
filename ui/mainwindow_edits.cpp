#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "inference/autolabelresults.h"
#include "shared/language.h"
#include "ui/annstatecommand.h"
#include "ui/categoryhistory.h"
#include "ui/categoryhistorycommand.h"
#include "ui/labeldialog.h"
#include "ui/objectlistpanel.h"
#include "ui/toastwidget.h"

#include <QAction>
#include <QMenu>
#include <QUndoStack>

#include <algorithm>

QStringList MainWindow::labelHistory() const
{
    return m_categories->labels();
}

QString MainWindow::lastLabel() const
{
    return m_categories->lastLabel();
}

std::optional<Annotation> MainWindow::sceneAnnotation(uint id) const
{
    const QList<Annotation> annotations = m_scene->annotations();
    const auto it = std::find_if(annotations.cbegin(), annotations.cend(), [id](const Annotation &a) { return a.id == id; });
    if (it == annotations.cend())
        return std::nullopt;
    return *it;
}

void MainWindow::pushState(uint id, const std::optional<Annotation> &before, const std::optional<Annotation> &after,
                           const QString &text, bool mergeable)
{
    m_undoStack->push(new AnnStateCommand(m_scene, id, before, after, mergeable, text));
}

void MainWindow::addDrafted(const Annotation &draft)
{
    if (m_currentImagePath.isEmpty())
        return;
    const QString label = LabelDialog::askLabel(this, m_categories->labels(), m_categories->lastLabel(), nullptr,
                                                translateText("输入类别"));
    if (label.isEmpty())
        return;   // cancelled: the drawn shape is dropped, nothing to undo
    m_categories->remember(label);
    m_categories->setLastLabel(label);
    Annotation shape = draft;
    shape.label = label;
    shape.pending = 0;
    const uint id = uint(m_scene->allocateId());
    pushState(id, std::nullopt, shape, translateText("添加标注"));
    m_scene->selectId(id, true);
}

void MainWindow::onAnnotationEdited(uint id, const Annotation &before, const Annotation &after)
{
    if (m_loadingImage)
        return;
    if (before != after)
        pushState(id, before, after, translateText("调整标注"));
    m_dirty = true;
    updateSavedIndicator();
    refreshPanels();
}

void MainWindow::onAnnotationNudged(uint id, const Annotation &before, const Annotation &after)
{
    if (m_loadingImage)
        return;
    pushState(id, before, after, translateText("移动标注"), true);
}

void MainWindow::editCategory(uint id)
{
    const std::optional<Annotation> current = sceneAnnotation(id);
    if (!current)
        return;
    const QString label = LabelDialog::askLabel(this, m_categories->labels(), current->label, nullptr,
                                                translateText("修改类别"));
    if (label.isEmpty() || label == current->label)
        return;
    Annotation relabelled = *current;
    relabelled.label = label;
    relabelled.pending = 0;   // giving a model result a category confirms it
    m_categories->remember(label);
    pushState(id, current, relabelled, translateText("修改类别"));
}

void MainWindow::applyCategory(const QString &label)
{
    if (label.isEmpty())
        return;
    // Every selected shape that carries another label, in id order.
    QList<Annotation> changed;
    const QList<uint> selected = m_scene->selectedIds();
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (selected.contains(a.id) && a.label != label)
            changed.append(a);
    }
    if (changed.isEmpty())
        return;
    m_categories->remember(label);
    m_categories->setLastLabel(label);
    const QString text = translateText("修改类别");
    if (changed.size() > 1)
        m_undoStack->beginMacro(text);
    for (const Annotation &before : std::as_const(changed)) {
        Annotation after = before;
        after.label = label;
        after.pending = 0;
        pushState(before.id, before, after, text);
    }
    if (changed.size() > 1)
        m_undoStack->endMacro();
}

void MainWindow::applyNumberKey(int number)
{
    const QString label = m_objectPanel->categoryAtRow(number - 1);
    if (label.isEmpty() || m_currentImagePath.isEmpty())
        return;
    if (m_scene->hasSelection()) {
        applyCategory(label);
        return;
    }
    // Nothing selected: the category is offered for the next shape.
    m_categories->setLastLabel(label);
    m_toast->showMessage(translateText("下一个框的类别：%1").arg(label));
}

void MainWindow::toggleDifficult(uint id)
{
    const std::optional<Annotation> current = sceneAnnotation(id);
    if (!current)
        return;
    Annotation toggled = *current;
    toggled.difficult = !toggled.difficult;
    pushState(id, current, toggled, toggled.difficult ? translateText("设为困难样本") : translateText("取消困难样本"));
}

void MainWindow::deleteSelected()
{
    const QList<uint> selected = m_scene->selectedIds();
    if (selected.isEmpty())
        return;
    QList<Annotation> doomed;
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (selected.contains(a.id))
            doomed.append(a);
    }
    if (doomed.isEmpty())
        return;
    if (doomed.size() > 1)
        m_undoStack->beginMacro(translateText("删除 %1 个标注").arg(doomed.size()));
    for (const Annotation &a : std::as_const(doomed))
        pushState(a.id, a, std::nullopt, translateText("删除标注"));
    if (doomed.size() > 1)
        m_undoStack->endMacro();
}

void MainWindow::deleteCategory(const QString &label, int annotationCount)
{
    if (label.isEmpty())
        return;
    if (annotationCount > 0) {
        m_undoStack->beginMacro(translateText("删除类别 %1").arg(label));
        const QList<Annotation> annotations = m_scene->annotations();
        for (const Annotation &a : annotations) {
            if (a.label == label)
                pushState(a.id, a, std::nullopt, translateText("删除标注"));
        }
        m_undoStack->endMacro();
    }
    // A step of its own: the first undo brings the category back, the second its shapes.
    m_undoStack->push(new CategoryHistoryCommand(m_categories, label, translateText("删除类别 %1").arg(label)));
    refreshCategories();
    m_toast->showMessage(annotationCount <= 0
                             ? translateText("已删除类别 %1").arg(label)
                             : translateText("已删除类别 %1（含 %2 个标注）").arg(label).arg(annotationCount));
}

void MainWindow::addCategory()
{
    const QString label = LabelDialog::askLabel(this, m_categories->labels(), m_categories->lastLabel(), nullptr,
                                                translateText("新增类别"));
    if (label.isEmpty())
        return;
    m_categories->remember(label);
    m_categories->setLastLabel(label);
    refreshCategories();
}

void MainWindow::copyPreviousShapes()
{
    if (m_currentImagePath.isEmpty())
        return;
    QList<Annotation> source;
    const QList<Annotation> previous = m_annotationCache.value(m_previousImagePath);
    for (const Annotation &a : previous) {
        if (a.pending == 0 && !a.label.isEmpty())
            source.append(a);
    }
    if (m_previousImagePath.isEmpty() || source.isEmpty()) {
        m_toast->showMessage(translateText("上一张图片没有可复制的标注"));
        return;
    }
    // The rule that keeps model results from doubling existing shapes keeps copies from it too.
    const OverlapFilterResult filtered = filterOverlapping(m_scene->annotations(), source);
    if (filtered.kept.isEmpty()) {
        m_toast->showMessage(translateText("上一张的标注都已在本图中"));
        return;
    }
    m_undoStack->beginMacro(translateText("复制上一张的标注"));
    for (Annotation a : filtered.kept) {
        a.id = 0;
        a.confidence = -1;   // a model's score was for the other image, not for this one
        pushState(uint(m_scene->allocateId()), std::nullopt, a, translateText("添加标注"));
    }
    m_undoStack->endMacro();
    m_toast->showMessage(translateText("已复制 %1 个标注").arg(filtered.kept.size()));
}

void MainWindow::showAnnotationMenu(uint id, const QPoint &globalPos)
{
    const std::optional<Annotation> current = sceneAnnotation(id);
    if (!current)
        return;
    QMenu menu(this);
    QAction *relabel = menu.addAction(translateText("改类别…"));
    menu.addSeparator();
    QAction *confirm = current->pending == 1 ? menu.addAction(translateText("确认 ⚡")) : nullptr;
    QAction *difficult = menu.addAction(translateText("设为困难样本"));
    difficult->setCheckable(true);
    difficult->setChecked(current->difficult);
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
        toggleDifficult(id);
    else if (chosen == remove)
        deleteSelected();
}
