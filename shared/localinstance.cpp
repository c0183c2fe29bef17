#include "shared/localinstance.h"

#include "shared/language.h"

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
        // A terminal line: the terminal's language, whatever the window was set to.
        const QString message = translateTextIn(environmentLanguage(),
                                                "%1：没有私有的运行时文件夹（XDG_RUNTIME_DIR，或属于本用户、权限 0700 的 "
                                                "%2/brindlemark-%3），启动时不做单实例交接")
                                    .arg(name, QDir::tempPath(), QString::number(::getuid()));
        std::fputs(message.toLocal8Bit().append('\n').constData(), stderr);
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
