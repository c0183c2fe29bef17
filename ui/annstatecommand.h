#pragma once

#include "storage/annotation.h"

#include <QUndoCommand>

#include <optional>

class AnnotationScene;

// The undo step of every change to a shape: the state of one annotation id before and after.
// An absent state means the shape does not exist. Keyboard moves merge with one another; all
// other commands on the same shape merge when they follow one another (the first one's text
// stays), except a creation and a removal, which are always steps of their own. Holds copies,
// never pointers into the scene.
class AnnStateCommand : public QUndoCommand
{
public:
    AnnStateCommand(AnnotationScene *scene, uint annotationId, const std::optional<Annotation> &before,
                    const std::optional<Annotation> &after, bool mergeable, const QString &text,
                    QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand *other) override;

    uint annotationId() const { return m_annotationId; }
    const std::optional<Annotation> &before() const { return m_before; }
    const std::optional<Annotation> &after() const { return m_after; }

private:
    AnnotationScene *m_scene;   // not owned
    uint m_annotationId;
    std::optional<Annotation> m_before;
    std::optional<Annotation> m_after;
    bool m_mergeable;
};
