#include "host/hostinstance.h"

#include "shared/localinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

bool brindlehostAlreadyRunning()
{
    return localServerAnswers(QLatin1String(kBrindlehostServerName), 400);
}

QLocalServer *listenAsBrindlehost(QObject *parent)
{
    QLocalServer *server = listenLocalServer(QLatin1String(kBrindlehostServerName), parent);
    // A connection only asks whether we run. Left pending, they fill the queue after a few dozen
    // and this copy would look absent to the next probe.
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket *socket = server->nextPendingConnection())
            socket->deleteLater();
    });
    return server;
}
