#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QListWidget;

// One line of the shortcut list: the keys ("/" separates alternatives) and what they do.
struct ShortcutRow
{
    QString keys;
    QString description;
};

// The modal shortcut list, sized from the window's font and height. Built anew for each showing
// so that it is always in the current language.
class ShortcutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ShortcutDialog(QWidget *window);

    // The rows in display order, translated into the current language.
    static QList<ShortcutRow> rows();

    int keyColumnWidth() const { return m_keyColumnWidth; }
    QListWidget *list() const { return m_list; }

    // Width: descriptions + keys + 66, within [440, 840]. Height: all rows (rowsHeight, their
    // heights summed), but no more than the window height - 60 (and never below 420).
    static int fittedWidth(int descriptionWidth, int keyColumnWidth);
    static int fittedHeight(int rowsHeight, int buttonHeight, int fontHeight, int windowHeight);

private:
    QListWidget *m_list = nullptr;
    int m_keyColumnWidth = 0;
};

// Builds the list for the given main window (may be null) and runs it modally.
void showShortcutDialog(QWidget *window);
