#pragma once

#include <QUndoCommand>

class CategoryHistory;

// Deleting a category from the history as an undo step of its own (never merges).
class CategoryHistoryCommand : public QUndoCommand
{
public:
    CategoryHistoryCommand(CategoryHistory *history, const QString &label, const QString &text,
                           QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

private:
    CategoryHistory *m_history;   // not owned
    QString m_label;
};
