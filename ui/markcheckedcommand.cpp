#include "ui/markcheckedcommand.h"

MarkCheckedCommand::MarkCheckedCommand(FolderSession *session, const QString &imagePath,
                                       const FolderSession::CheckedMark &mark, const QString &text,
                                       QUndoCommand *parent)
    : QUndoCommand(text, parent)
    , m_session(session)
    , m_imagePath(imagePath)
    , m_mark(mark)
{
}

void MarkCheckedCommand::undo()
{
    if (m_marked && m_session->unmarkChecked(m_imagePath, m_mark))
        m_marked = false;
}

void MarkCheckedCommand::redo()
{
    if (!m_pushed) {
        m_pushed = true;
        return;
    }
    if (m_marked)
        return;   // the file could not be taken back: it is still there
    m_mark = m_session->markChecked(m_imagePath);
    m_marked = !m_mark.file.isEmpty();
}
