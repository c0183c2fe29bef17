#include "ui/annstatecommand.h"

#include "canvas/annotationscene.h"

AnnStateCommand::AnnStateCommand(AnnotationScene *scene, uint annotationId, const std::optional<Annotation> &before,
                                 const std::optional<Annotation> &after, bool mergeable, const QString &text,
                                 QUndoCommand *parent)
    : QUndoCommand(text, parent)
    , m_scene(scene)
    , m_annotationId(annotationId)
    , m_before(before)
    , m_after(after)
    , m_mergeable(mergeable)
{
}

void AnnStateCommand::undo()
{
    m_scene->applyState(m_annotationId, m_before);
}

void AnnStateCommand::redo()
{
    m_scene->applyState(m_annotationId, m_after);
}

int AnnStateCommand::id() const
{
    // Never -1: every command of this kind takes part in merging.
    return m_mergeable ? 1 : 0;
}

bool AnnStateCommand::mergeWith(const QUndoCommand *other)
{
    const auto *next = dynamic_cast<const AnnStateCommand *>(other);
    if (!next || next->m_annotationId != m_annotationId)
        return false;
    // A creation and a removal stay steps of their own: merged, undoing a drawn box that was then
    // moved would remove it instead of moving it back, and a box drawn and deleted would not come
    // back at all.
    if (!m_before || !m_after || !next->m_after)
        return false;
    m_after = next->m_after;
    return true;
}
