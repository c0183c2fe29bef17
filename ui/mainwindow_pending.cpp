#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "shared/language.h"
#include "ui/toastwidget.h"

#include <QUndoStack>

void MainWindow::confirmOne(uint id)
{
    if (id == 0)
        return;
    const std::optional<Annotation> current = sceneAnnotation(id);
    if (!current || current->pending != 1)
        return;
    Annotation confirmed = *current;
    confirmed.pending = 0;
    pushState(id, current, confirmed, translateText("确认标注"));
}

void MainWindow::confirmCurrent()
{
    if (m_scene->isInteracting()) {
        m_scene->finishPolygon();
        return;
    }
    QList<uint> pendingSelected;
    const QList<uint> selected = m_scene->selectedIds();
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (a.pending == 1 && selected.contains(a.id))
            pendingSelected.append(a.id);
    }
    if (pendingSelected.size() >= 2) {
        m_undoStack->beginMacro(translateText("确认 %1 个标注").arg(pendingSelected.size()));
        for (uint id : std::as_const(pendingSelected))
            confirmOne(id);
        m_undoStack->endMacro();
        m_toast->showMessage(translateText("已确认 %1 个标注").arg(pendingSelected.size()));
        return;
    }
    uint target = m_scene->selectedId();
    if (target == 0) {
        const QList<uint> pending = m_scene->pendingIdsInReadingOrder();
        target = pending.isEmpty() ? 0 : pending.first();
    }
    if (target == 0)
        return;
    const std::optional<Annotation> current = sceneAnnotation(target);
    if (current && current->pending != 1) {
        m_toast->showMessage(translateText("该框已是已确认状态"));
        return;
    }
    confirmOne(target);
}

void MainWindow::confirmAll()
{
    const QList<uint> ids = m_scene->pendingIdsInReadingOrder();
    if (ids.isEmpty())
        return;
    m_undoStack->beginMacro(translateText("全部确认"));
    for (uint id : ids)
        confirmOne(id);
    m_undoStack->endMacro();
    m_toast->showMessage(translateText("已确认 %1 个标注").arg(ids.size()));
}

void MainWindow::rejectOne(uint id)
{
    if (id == 0)
        return;
    const std::optional<Annotation> current = sceneAnnotation(id);
    if (!current || current->pending != 1)
        return;
    pushState(id, current, std::nullopt, translateText("拒绝标注"));
}

void MainWindow::rejectAll()
{
    const QList<uint> ids = m_scene->pendingIdsInReadingOrder();
    if (ids.isEmpty())
        return;
    m_undoStack->beginMacro(translateText("全部拒绝"));
    for (uint id : ids)
        rejectOne(id);
    m_undoStack->endMacro();
    m_toast->showMessage(translateText("已拒绝 %1 个标注").arg(ids.size()));
}

void MainWindow::stepPending(int direction)
{
    if (m_scene->isInteracting())
        return;
    const QList<uint> ids = m_scene->pendingIdsInReadingOrder();
    if (ids.isEmpty())
        return;
    const qsizetype n = ids.size();
    const qsizetype i = ids.indexOf(m_scene->selectedId());
    if (i >= 0)
        m_scene->selectId(ids.at((n + direction + i) % n), true);
    else
        m_scene->selectId(direction < 1 ? ids.last() : ids.first(), true);
}

void MainWindow::escapeAction()
{
    if (m_scene->isInteracting()) {
        m_scene->cancelDrawing();
        return;
    }
    const uint selected = m_scene->selectedId();
    if (selected != 0 && m_scene->pendingIdsInReadingOrder().contains(selected)) {
        rejectOne(selected);
        return;
    }
    m_scene->selectId(0, false);
}
