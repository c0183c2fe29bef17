#include "shared/localinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder only this user can use: a real folder (no link), owned by us, mode 0700. Anything in a
// shared folder that another user made first could answer for our socket.
bool isPrivateFolder(const QString &dir)
{
    struct stat info;
    return ::lstat(QFile::encodeName(dir).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::getuid() && (info.st_mode & 0777) == 0700;
}

} // namespace

QString localServerPath(const QString &name)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !isPrivateFolder(dir)) {
        // No usable runtime directory: a folder of our own in the temporary directory, made 0700
        // by us, or none at all.
        dir = QDir::tempPath() + QStringLiteral("/brindlemark-") + QString::number(::getuid());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    if (!isPrivateFolder(dir))
        return QString();
    return dir + QLatin1Char('/') + name;
}

bool localServerAnswers(const QString &name, int timeoutMs)
{
    const QString path = localServerPath(name);
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadWrite);
    return socket.waitForConnected(timeoutMs);
}

QLocalServer *listenLocalServer(const QString &name, QObject *parent)
{
    const QString path = localServerPath(name);
    auto *server = new QLocalServer(parent);
    if (path.isEmpty()) {
        std::fprintf(stderr, "%s: no private runtime folder (XDG_RUNTIME_DIR, or %s/brindlemark-%u owned by "
                             "this user with mode 0700): starting without the single-instance hand-off\n",
                     name.toLocal8Bit().constData(), QFile::encodeName(QDir::tempPath()).constData(),
                     unsigned(::getuid()));
        return server;
    }
    QLocalServer::removeServer(path);
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
