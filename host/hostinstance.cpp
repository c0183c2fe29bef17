#include "host/hostinstance.h"

#include "shared/localinstance.h"

#include <QString>

bool brindlehostAlreadyRunning()
{
    return localServerAnswers(QLatin1String(kBrindlehostServerName), 400);
}

QLocalServer *listenAsBrindlehost(QObject *parent)
{
    return listenLocalServer(QLatin1String(kBrindlehostServerName), parent);
}
