#include "app/startup.h"

#include "shared/localinstance.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

bool askRunningInstanceToShow()
{
    QLocalSocket socket;
    socket.connectToServer(localServerPath(QLatin1String(kBrindlemarkServerName)), QIODevice::ReadWrite);
    if (!socket.waitForConnected(400))
        return false;
    socket.write("show", 4);
    socket.flush();
    socket.waitForBytesWritten(500);
    return true;
}

QLocalServer *listenAsFirstInstance(QObject *parent)
{
    return listenLocalServer(QLatin1String(kBrindlemarkServerName), parent);
}

void bringToFront(QWidget *window)
{
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

void handleActivation(QLocalServer *server)
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->readAll();
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            bringToFront(window);
    }
}

bool startCompanionIfNeeded(const QString &appDir)
{
    const QString program = appDir + QLatin1Char('/') + companionFileName();
    if (!QFileInfo::exists(program))
        return false;
    if (localServerAnswers(QLatin1String(kBrindlehostServerName), 200))
        return false;
    QProcess::startDetached(program, {}, appDir);
    return true;
}
