#pragma once

#include "session/foldersession.h"

#include <QString>
#include <QUndoCommand>

// The undo step of marking an image as checked and empty: undo removes the empty label file the
// mark wrote (only while it is still that file, unchanged), redo writes it again. The mark itself
// is made before the step is pushed, so that a failed write leaves no step behind.
class MarkCheckedCommand : public QUndoCommand
{
public:
    MarkCheckedCommand(FolderSession *session, const QString &imagePath, const FolderSession::CheckedMark &mark,
                       const QString &text, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

private:
    FolderSession *m_session;   // not owned
    QString m_imagePath;
    FolderSession::CheckedMark m_mark;
    bool m_marked = true;       // the file is there as the mark wrote it
    bool m_pushed = false;      // the first redo (the push) has nothing to do
};
