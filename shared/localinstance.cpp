#include "shared/localinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

QString localServerPath(const QString &name)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        return name;
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
