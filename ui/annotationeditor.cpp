#include "ui/annotationeditor.h"

#include "canvas/annotationscene.h"
#include "session/categoryhistory.h"
#include "shared/language.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "ui/annstatecommand.h"
#include "ui/categoryhistorycommand.h"
#include "ui/imagehistories.h"

#include <QUndoGroup>
#include <QUndoStack>

#include <algorithm>

AnnotationEditor::AnnotationEditor(AnnotationScene *scene, CategoryHistory *categories, QObject *parent)
    : QObject(parent)
    , m_scene(scene)
    , m_categories(categories)
    , m_histories(new ImageHistories(this))
    , m_undoStack(m_histories->active())
{
    connect(m_histories, &ImageHistories::activeChanged, this, [this](QUndoStack *stack) { m_undoStack = stack; });
    connect(m_scene, &AnnotationScene::annotationsChanged, this, &AnnotationEditor::onSceneChanged);
    connect(m_scene, &AnnotationScene::annotationEdited, this, &AnnotationEditor::onShapeEdited);
    connect(m_scene, &AnnotationScene::annotationNudged, this, &AnnotationEditor::onShapeNudged);
}

QUndoStack *AnnotationEditor::undoStack() const
{
    return m_undoStack;
}

QUndoGroup *AnnotationEditor::undoGroup() const
{
    return m_histories->group();
}

bool AnnotationEditor::isDirty() const
{
    return m_editedWithoutStep || !m_undoStack->isClean();
}

void AnnotationEditor::markSaved()
{
    m_editedWithoutStep = false;
    m_undoStack->setClean();
}

void AnnotationEditor::load(const QList<Annotation> &annotations)
{
    if (m_undoStack->count() > 0)
        m_histories->dropActive();
    install(annotations);
}

void AnnotationEditor::install(const QList<Annotation> &annotations)
{
    const bool wasLoading = m_loading;
    m_loading = true;
    m_scene->setAnnotations(annotations);
    m_hasImage = true;
    m_editedWithoutStep = false;
    m_loading = wasLoading;
}

void AnnotationEditor::enter(const QString &previous, const QString &path, const QList<Annotation> &records)
{
    if (!previous.isEmpty() && m_hasImage)
        m_histories->keep(previous, m_scene->annotations());
    const std::optional<QList<Annotation>> resumed = m_histories->resume(path, records);
    // The kept shapes carry the ids the history's steps name.
    install(resumed ? *resumed : records);
}

void AnnotationEditor::forgetHistories()
{
    m_histories->forgetAll();
}

void AnnotationEditor::addLoaded(const QList<Annotation> &records)
{
    const bool wasLoading = m_loading;
    m_loading = true;
    for (const Annotation &a : records)
        m_scene->applyState(uint(m_scene->allocateId()), a);
    m_loading = wasLoading;
}

void AnnotationEditor::clear()
{
    const bool wasLoading = m_loading;
    m_loading = true;
    m_histories->dropActive();
    m_scene->clear();
    m_hasImage = false;
    m_editedWithoutStep = false;
    m_loading = wasLoading;
}

QList<Annotation> AnnotationEditor::annotations() const
{
    return m_scene->annotations();
}

int AnnotationEditor::confirmedCount() const
{
    return m_scene->confirmedCount();
}

int AnnotationEditor::pendingCount() const
{
    return m_scene->pendingCount();
}

std::optional<Annotation> AnnotationEditor::annotation(uint id) const
{
    const QList<Annotation> all = m_scene->annotations();
    const auto it = std::find_if(all.cbegin(), all.cend(), [id](const Annotation &a) { return a.id == id; });
    if (it == all.cend())
        return std::nullopt;
    return *it;
}

void AnnotationEditor::onSceneChanged()
{
    if (m_loading || !m_hasImage)
        return;
    emit edited();
}

void AnnotationEditor::onShapeEdited(uint id, const Annotation &before, const Annotation &after)
{
    if (m_loading)
        return;
    if (before != after)
        pushState(id, before, after, translateText("调整标注"));
    else
        m_editedWithoutStep = true;   // a drag that ended where it began still counts as an edit
    emit edited();
}

void AnnotationEditor::onShapeNudged(uint id, const Annotation &before, const Annotation &after)
{
    if (m_loading)
        return;
    pushState(id, before, after, translateText("移动标注"), true);
}

void AnnotationEditor::pushState(uint id, const std::optional<Annotation> &before,
                                 const std::optional<Annotation> &after, const QString &text, bool mergeable)
{
    std::optional<Annotation> state = after;
    // A model result confirmed in any way (Enter, a category, a drag, a nudge) is a label now: the
    // model's score no longer describes it. An outline the label file cannot hold stays a result.
    if (state && before && before->pending == 1 && state->pending == 0) {
        if (refusesOutline(*state))
            state->pending = 1;
        else
            state->confidence = -1;
    }
    m_undoStack->push(new AnnStateCommand(m_scene, id, before, state, mergeable, text));
}

uint AnnotationEditor::addShape(const Annotation &draft, const QString &label)
{
    m_categories->remember(label);
    m_categories->setLastLabel(label);
    Annotation shape = draft;
    shape.label = label;
    shape.pending = 0;
    const uint id = uint(m_scene->allocateId());
    // A shape just drawn is shown, with its category, whatever was hidden.
    m_scene->revealLabel(label);
    pushState(id, std::nullopt, shape, translateText("添加标注"));
    // It was drawn where the user looks: no scrolling.
    m_scene->selectId(id, false);
    return id;
}

AnnotationEditor::CategoryKey AnnotationEditor::applyCategoryKey(const QString &label)
{
    CategoryKey out;
    if (!m_scene->hasPointedSelection()) {
        m_categories->setLastLabel(label);
        out.nextShape = true;
        return out;
    }
    const QList<uint> selected = m_scene->selectedIds();
    for (const Annotation &a : m_scene->annotations()) {
        if (selected.contains(a.id) && a.label != label && a.pending == 1 && refusesOutline(a))
            ++out.outlinesKept;
    }
    out.relabelled = applyCategory(label);
    return out;
}

QHash<uint, int> AnnotationEditor::savedShapeNumbers() const
{
    QHash<uint, int> numbers;
    int number = 0;
    const QList<Annotation> all = m_scene->annotations();
    for (const Annotation &a : all) {
        if (a.pending == 0 && !a.label.isEmpty())
            numbers.insert(a.id, ++number);
    }
    return numbers;
}

bool AnnotationEditor::selectSavedShape(int number)
{
    const QHash<uint, int> numbers = savedShapeNumbers();
    for (auto it = numbers.cbegin(); it != numbers.cend(); ++it) {
        if (it.value() == number) {
            m_scene->selectId(it.key(), true, true);
            return true;
        }
    }
    return false;
}

bool AnnotationEditor::relabel(uint id, const QString &label)
{
    const std::optional<Annotation> current = annotation(id);
    if (!current || label.isEmpty() || label == current->label)
        return false;
    Annotation relabelled = *current;
    relabelled.label = label;
    // Giving a model result a category confirms it, unless the label file cannot hold it.
    if (!refusesOutline(*current))
        relabelled.pending = 0;
    m_categories->remember(label);
    m_scene->revealLabel(label);   // a shape just named does not vanish
    pushState(id, current, relabelled, translateText("修改类别"));
    return true;
}

bool AnnotationEditor::toggleRotated(uint id)
{
    const std::optional<Annotation> current = annotation(id);
    if (!current || (current->kind != Annotation::Rect && current->kind != Annotation::Rotated))
        return false;
    if (current->kind == Annotation::Rect && m_outlinesRefused)
        return false;
    Annotation changed = *current;
    changed.pending = 0;
    if (current->kind == Annotation::Rect) {
        const QRectF r = current->rect.normalized();
        changed.kind = Annotation::Rotated;
        changed.points = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
        changed.rect = r;
        pushState(id, current, changed, translateText("转为旋转框"));
    } else {
        const RotatedFrame frame = RotatedFrame::fromCorners(current->points);
        changed.kind = Annotation::Rect;
        changed.points.clear();
        changed.rect = QRectF(frame.centre.x() - frame.width / 2, frame.centre.y() - frame.height / 2, frame.width,
                              frame.height);
        pushState(id, current, changed, translateText("转为正框"));
    }
    return true;
}

int AnnotationEditor::applyCategory(const QString &label)
{
    if (label.isEmpty())
        return 0;
    // Every selected shape that carries another label, in id order.
    QList<Annotation> changed;
    const QList<uint> selected = m_scene->selectedIds();
    const QList<Annotation> all = m_scene->annotations();
    for (const Annotation &a : all) {
        if (selected.contains(a.id) && a.label != label)
            changed.append(a);
    }
    if (changed.isEmpty())
        return 0;
    m_categories->remember(label);
    m_categories->setLastLabel(label);
    m_scene->revealLabel(label);   // shapes just named do not vanish
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
    return int(changed.size());
}

bool AnnotationEditor::toggleDifficult(uint id)
{
    const std::optional<Annotation> current = annotation(id);
    if (!current)
        return false;
    Annotation toggled = *current;
    toggled.difficult = !toggled.difficult;
    pushState(id, current, toggled, toggled.difficult ? translateText("设为困难样本") : translateText("取消困难样本"));
    return true;
}

int AnnotationEditor::deleteSelected()
{
    const QList<uint> selected = m_scene->selectedIds();
    if (selected.isEmpty())
        return 0;
    QList<Annotation> doomed;
    const QList<Annotation> all = m_scene->annotations();
    for (const Annotation &a : all) {
        if (selected.contains(a.id))
            doomed.append(a);
    }
    if (doomed.size() > 1)
        m_undoStack->beginMacro(translateText("删除 %1 个标注").arg(doomed.size()));
    for (const Annotation &a : std::as_const(doomed))
        pushState(a.id, a, std::nullopt, translateText("删除标注"));
    if (doomed.size() > 1)
        m_undoStack->endMacro();
    return int(doomed.size());
}

void AnnotationEditor::deleteCategory(const QString &label, int annotationCount)
{
    if (label.isEmpty())
        return;
    if (annotationCount > 0) {
        m_undoStack->beginMacro(translateText("删除类别 %1").arg(label));
        const QList<Annotation> all = m_scene->annotations();
        for (const Annotation &a : all) {
            if (a.label == label)
                pushState(a.id, a, std::nullopt, translateText("删除标注"));
        }
        m_undoStack->endMacro();
    }
    m_undoStack->push(new CategoryHistoryCommand(m_categories, label, translateText("删除类别 %1").arg(label)));
}

bool AnnotationEditor::atOpenedState() const
{
    return m_undoStack->index() == 0;
}

AnnotationEditor::CopyOutcome AnnotationEditor::copyShapes(const QList<Annotation> &source)
{
    CopyOutcome out;
    QList<Annotation> confirmed;
    for (const Annotation &a : source) {
        if (a.pending != 0 || a.label.isEmpty())
            continue;
        if (refusesOutline(a))
            ++out.outlinesRefused;
        else
            confirmed.append(a);
    }
    if (confirmed.isEmpty()) {
        out.nothingToCopy = out.outlinesRefused == 0;
        return out;
    }
    // The rule that keeps model results from doubling existing shapes keeps copies from it too.
    const OverlapFilterResult filtered = filterOverlapping(m_scene->annotations(), confirmed);
    if (filtered.kept.isEmpty())
        return out;
    m_undoStack->beginMacro(translateText("复制上一张的标注"));
    for (Annotation a : filtered.kept) {
        a.id = 0;
        a.confidence = -1;   // a model's score was for the other image, not for this one
        pushState(uint(m_scene->allocateId()), std::nullopt, a, translateText("添加标注"));
    }
    m_undoStack->endMacro();
    out.copied = int(filtered.kept.size());
    return out;
}

OverlapFilterResult AnnotationEditor::insertResults(const QList<Annotation> &results)
{
    const OverlapFilterResult filtered = filterOverlapping(m_scene->annotations(), results);
    if (filtered.kept.isEmpty())
        return filtered;
    m_undoStack->beginMacro(translateText("AI 插入 %1 个标注").arg(filtered.kept.size()));
    for (const Annotation &a : filtered.kept)
        pushState(uint(m_scene->allocateId()), std::nullopt, a, translateText("AI 插入标注"));
    m_undoStack->endMacro();
    return filtered;
}

bool AnnotationEditor::confirmOne(uint id)
{
    if (id == 0)
        return false;
    const std::optional<Annotation> current = annotation(id);
    if (!current || current->pending != 1 || refusesOutline(*current))
        return false;
    Annotation confirmed = *current;
    confirmed.pending = 0;
    pushState(id, current, confirmed, translateText("确认标注"));
    return true;
}

QList<uint> AnnotationEditor::reviewOrder(bool shownOnly) const
{
    QList<uint> ids;
    const QList<Annotation> all = m_scene->annotations();   // ascending ids, as the panel lists them
    for (const Annotation &a : all) {
        if (a.pending == 1 && !(shownOnly && m_scene->isHidden(a)))
            ids.append(a.id);
    }
    return ids;
}

bool AnnotationEditor::selectNextPending(const QList<uint> &order, const QList<uint> &decided)
{
    if (m_scene->pendingCount() == 0) {
        m_scene->selectId(0, false);
        return false;
    }
    // Results hidden from view are left, but not selected.
    const QList<uint> left = reviewOrder(true);
    if (left.isEmpty()) {
        m_scene->selectId(0, false);
        return true;
    }
    qsizetype last = -1;
    for (uint id : decided)
        last = std::max(last, order.indexOf(id));
    for (qsizetype i = last + 1; i < order.size(); ++i) {
        if (left.contains(order.at(i))) {
            m_scene->selectId(order.at(i), true);
            return true;
        }
    }
    m_scene->selectId(left.first(), true);
    return true;
}

AnnotationEditor::Review AnnotationEditor::confirmCurrent()
{
    Review out;
    if (m_scene->isInteracting()) {
        m_scene->finishDrawing();
        out.finishedDrawing = true;
        return out;
    }
    const QList<uint> order = reviewOrder(true);
    QList<uint> pendingSelected;
    const QList<uint> selected = m_scene->selectedIds();
    const QList<Annotation> all = m_scene->annotations();
    for (const Annotation &a : all) {
        if (a.pending == 1 && selected.contains(a.id))
            pendingSelected.append(a.id);
    }
    if (pendingSelected.size() >= 2) {
        QList<uint> decided;
        for (uint id : std::as_const(pendingSelected)) {
            if (const std::optional<Annotation> a = annotation(id); a && !refusesOutline(*a))
                decided.append(id);
        }
        out.outlinesKept = int(pendingSelected.size() - decided.size());
        if (decided.isEmpty())
            return out;
        m_undoStack->beginMacro(translateText("确认 %1 个标注").arg(decided.size()));
        for (uint id : std::as_const(decided))
            confirmOne(id);
        m_undoStack->endMacro();
        out.confirmed = int(decided.size());
        out.noneLeft = !selectNextPending(order, decided);
        return out;
    }
    uint target = m_scene->selectedId();
    if (target == 0)
        target = order.isEmpty() ? 0 : order.first();
    if (target == 0)
        return out;
    const std::optional<Annotation> current = annotation(target);
    if (current && current->pending != 1) {
        out.alreadyConfirmed = true;
        return out;
    }
    if (current && refusesOutline(*current)) {
        out.outlinesKept = 1;
        return out;
    }
    if (!confirmOne(target))
        return out;
    out.confirmed = 1;
    out.noneLeft = !selectNextPending(order, {target});
    return out;
}

AnnotationEditor::Review AnnotationEditor::confirmAndAdvance(uint id)
{
    Review out;
    const QList<uint> order = reviewOrder(true);
    if (!confirmOne(id)) {
        const std::optional<Annotation> current = annotation(id);
        out.outlinesKept = current && current->pending == 1 && refusesOutline(*current) ? 1 : 0;
        return out;
    }
    out.confirmed = 1;
    out.noneLeft = !selectNextPending(order, {id});
    return out;
}

int AnnotationEditor::decideAll(bool (AnnotationEditor::*decideOne)(uint), const QString &text)
{
    QList<uint> ids = reviewOrder(false);
    // An outline that cannot be confirmed here is no step of a confirmation.
    if (decideOne == &AnnotationEditor::confirmOne) {
        ids.removeIf([this](uint id) {
            const std::optional<Annotation> a = annotation(id);
            return a && refusesOutline(*a);
        });
    }
    if (ids.isEmpty())
        return 0;
    int decided = 0;
    m_undoStack->beginMacro(text);
    for (uint id : ids)
        decided += (this->*decideOne)(id) ? 1 : 0;
    m_undoStack->endMacro();
    return decided;
}

bool AnnotationEditor::refusesOutline(const Annotation &a) const
{
    return m_outlinesRefused && storedShapeKind(a).hasOutline();
}

int AnnotationEditor::confirmAll(int *outlinesKept)
{
    const int before = m_scene->pendingCount();
    const int confirmed = decideAll(&AnnotationEditor::confirmOne, translateText("全部确认"));
    if (outlinesKept)
        *outlinesKept = before - confirmed;
    return confirmed;
}

bool AnnotationEditor::rejectOne(uint id)
{
    if (id == 0)
        return false;
    const std::optional<Annotation> current = annotation(id);
    if (!current || current->pending != 1)
        return false;
    pushState(id, current, std::nullopt, translateText("拒绝标注"));
    return true;
}

int AnnotationEditor::rejectAll()
{
    return decideAll(&AnnotationEditor::rejectOne, translateText("全部拒绝"));
}

bool AnnotationEditor::stepPending(int direction, bool pointed)
{
    if (m_scene->isInteracting())
        return true;
    const QList<uint> ids = reviewOrder(true);
    if (ids.isEmpty())
        return false;
    const qsizetype n = ids.size();
    const qsizetype i = ids.indexOf(m_scene->selectedId());
    if (i >= 0)
        m_scene->selectId(ids.at((n + direction + i) % n), true, pointed);
    else
        m_scene->selectId(direction < 1 ? ids.last() : ids.first(), true, pointed);
    return true;
}

AnnotationEditor::Review AnnotationEditor::escape()
{
    Review out;
    if (m_scene->isInteracting()) {
        m_scene->cancelDrawing();
        out.cancelledDrawing = true;
        return out;
    }
    const uint selected = m_scene->selectedId();
    const QList<uint> order = reviewOrder(true);
    if (selected != 0 && order.contains(selected)) {
        if (rejectOne(selected)) {
            out.rejected = 1;
            out.noneLeft = !selectNextPending(order, {selected});
        }
        return out;
    }
    m_scene->selectId(0, false);
    return out;
}
