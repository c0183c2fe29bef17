#include "ui/mainwindow.h"

#include "ui/emptystate.h"

#include <QGridLayout>

MainWindow::MainWindow(const QString &initialPath, QWidget *parent)
    : QMainWindow(parent)
    , m_initialPath(initialPath)
{
    m_canvasHost = new QWidget(this);
    auto *grid = new QGridLayout(m_canvasHost);
    grid->setContentsMargins(0, 0, 0, 0);
    m_emptyState = new EmptyState(m_canvasHost);
    grid->addWidget(m_emptyState, 0, 0);
    setCentralWidget(m_canvasHost);

    resize(1280, 800);
    updateTitle();
}

void MainWindow::updateTitle()
{
    setWindowTitle(QStringLiteral("Brindlemark"));
}
