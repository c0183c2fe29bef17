#include "ui/imagehistories.h"

#include "session/labelfilestamps.h"

#include <QUndoGroup>
#include <QUndoStack>

#include <algorithm>

namespace {

// The same records, in any order, ids aside: the cache may list them in another order than
// the scene did.
bool sameRecords(QList<Annotation> a, QList<Annotation> b)
{
    if (a.size() != b.size())
        return false;
    for (Annotation &x : a)
        x.id = 0;
    for (Annotation &x : b)
        x.id = 0;
    if (a == b)
        return true;
    for (const Annotation &x : std::as_const(a)) {
        const auto it = std::find(b.begin(), b.end(), x);
        if (it == b.end())
            return false;
        b.erase(it);
    }
    return true;
}

} // namespace

ImageHistories::ImageHistories(QObject *parent)
    : QObject(parent)
    , m_group(new QUndoGroup(this))
{
    activate(new QUndoStack(this));
}

void ImageHistories::activate(QUndoStack *stack)
{
    m_group->addStack(stack);
    m_group->setActiveStack(stack);
    m_active = stack;
    emit activeChanged(stack);
}

void ImageHistories::keep(const QString &path, const QList<Annotation> &shown)
{
    if (path.isEmpty())
        return;
    drop(path);
    // A history with nothing to undo or redo is not worth keeping.
    if (m_active->count() > 0) {
        m_kept.insert(path, Kept{m_active, shown, LabelFileStamps::stampsOf(path)});
        m_order.append(path);
        while (m_order.size() > kKeptImages)
            drop(m_order.first());
    } else {
        m_group->removeStack(m_active);
        delete m_active;
    }
    activate(new QUndoStack(this));
}

std::optional<QList<Annotation>> ImageHistories::resume(const QString &path, const QList<Annotation> &records)
{
    const auto it = m_kept.constFind(path);
    if (it == m_kept.constEnd() || it->stamps != LabelFileStamps::stampsOf(path) || !sameRecords(it->shown, records)) {
        drop(path);
        if (m_active->count() > 0)
            dropActive();
        return std::nullopt;
    }
    const Kept kept = *it;
    m_kept.remove(path);
    m_order.removeOne(path);
    QUndoStack *old = m_active;
    activate(kept.stack);
    m_group->removeStack(old);
    delete old;
    return kept.shown;
}

void ImageHistories::dropActive()
{
    QUndoStack *old = m_active;
    activate(new QUndoStack(this));
    m_group->removeStack(old);
    delete old;
}

void ImageHistories::forgetAll()
{
    while (!m_order.isEmpty())
        drop(m_order.first());
    dropActive();
}

void ImageHistories::drop(const QString &path)
{
    const auto it = m_kept.find(path);
    if (it == m_kept.end())
        return;
    m_group->removeStack(it->stack);
    delete it->stack;
    m_kept.erase(it);
    m_order.removeOne(path);
}
