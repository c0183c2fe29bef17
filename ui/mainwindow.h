#pragma once

#include <QMainWindow>

class EmptyState;

// Brindlemark's only top-level window.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const QString &initialPath, QWidget *parent = nullptr);

    QString initialPath() const { return m_initialPath; }

private:
    void updateTitle();

    QString m_initialPath;
    QWidget *m_canvasHost = nullptr;
    EmptyState *m_emptyState = nullptr;
};
