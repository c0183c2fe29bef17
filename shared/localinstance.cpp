#include "shared/localinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

QString localServerPath(const QString &name)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        // No runtime directory: a per-user name in the temporary directory, so another user's
        // socket can never answer for ours.
        return QDir::tempPath() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::getuid());
    }
    return dir + QLatin1Char('/') + name;
}

bool localServerAnswers(const QString &name, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(localServerPath(name), QIODevice::ReadWrite);
    return socket.waitForConnected(timeoutMs);
}

QLocalServer *listenLocalServer(const QString &name, QObject *parent)
{
    const QString path = localServerPath(name);
    QLocalServer::removeServer(path);
    auto *server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->listen(path);
    return server;
}

QString companionFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Brindlehost.exe");
#else
    return QStringLiteral("Brindlehost");
#endif
}
