#include "app/startup.h"

#include "shared/localinstance.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <memory>

namespace {

// Longer messages are not a path any second start sends.
const qint64 kMaxActivationBytes = 64 * 1024;

void openSentPath(const QByteArray &message)
{
    const qsizetype newline = message.indexOf('\n');
    if (!message.startsWith("show") || newline < 0)
        return;
    // Exactly as sent: a folder's name may begin or end in a blank.
    const QString path = QString::fromUtf8(message.mid(newline + 1));
    if (path.isEmpty())
        return;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            window->openPath(path);
    }
}

} // namespace

bool askRunningInstanceToShow(const QString &path)
{
    const QString server = localServerPath(QLatin1String(kBrindlemarkServerName));
    if (server.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(server, QIODevice::ReadWrite);
    if (!socket.waitForConnected(400))
        return false;
    QByteArray message("show", 4);
    if (!path.isEmpty())
        message += '\n' + QFileInfo(path).absoluteFilePath().toUtf8();
    socket.write(message);
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
        // The message is complete when the second start hangs up. Past the limit it is no message
        // of ours: the connection is dropped, and the socket never buffers more than the limit.
        socket->setReadBufferSize(kMaxActivationBytes + 1);
        auto message = std::make_shared<QByteArray>();
        auto dropped = std::make_shared<bool>(false);
        const auto take = [socket, message, dropped] {
            if (*dropped)
                return;
            message->append(socket->read(kMaxActivationBytes + 1 - message->size()));
            if (message->size() > kMaxActivationBytes) {
                *dropped = true;
                message->clear();
                socket->abort();
            }
        };
        QObject::connect(socket, &QLocalSocket::readyRead, socket, take);
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, message, dropped, take] {
            take();
            if (!*dropped)
                openSentPath(*message);
            socket->deleteLater();
        });
        take();
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
    // Without a tray nobody could quit it: it then stops with this window (see host/windowwatch.h).
    QProcess::startDetached(program, {QStringLiteral("--window-pid"), QString::number(QCoreApplication::applicationPid())},
                            appDir);
    return true;
}
