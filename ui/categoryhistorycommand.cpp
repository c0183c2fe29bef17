#include "ui/categoryhistorycommand.h"

#include "session/categoryhistory.h"

CategoryHistoryCommand::CategoryHistoryCommand(CategoryHistory *history, const QString &label, const QString &text,
                                               QUndoCommand *parent)
    : QUndoCommand(text, parent)
    , m_history(history)
    , m_label(label)
{
}

void CategoryHistoryCommand::undo()
{
    m_history->restore(m_label);
}

void CategoryHistoryCommand::redo()
{
    m_history->remove(m_label);
}
