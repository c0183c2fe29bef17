#include "host/serverprocess.h"

#include "host/servicesettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

QStringList serverArguments(const ServiceSettings &settings, const ModelFiles &files)
{
    QStringList args{QStringLiteral("-m"), files.modelPath};
    if (!files.mmprojPath.isEmpty())
        args << QStringLiteral("--mmproj") << files.mmprojPath;
    args << QStringLiteral("--host") << QStringLiteral("127.0.0.1")
         << QStringLiteral("--port") << QString::number(settings.port)
         << QStringLiteral("-ngl") << QString::number(settings.gpuLayers)
         << QStringLiteral("-c") << QString::number(settings.contextSize);
    if (settings.threads > 0)
        args << QStringLiteral("-t") << QString::number(settings.threads);
    args << QStringLiteral("--jinja") << QStringLiteral("--no-webui")
         << QStringLiteral("--image-min-tokens") << QStringLiteral("1024")
         << QStringLiteral("--reasoning-budget") << QStringLiteral("0")
         << QStringLiteral("--alias") << modelDisplayName(files.modelPath);
    return args;
}

QString healthUrl(int port)
{
    return QStringLiteral("http://127.0.0.1:%1/v1/models").arg(port);
}

QProcess *createServerProcess(QObject *parent)
{
    auto *process = new QProcess(parent);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setInputChannelMode(QProcess::ManagedInputChannel);
    const pid_t parentPid = getpid();
    // Runs in the child between fork and exec: only async-signal-safe calls.
    process->setChildProcessModifier([parentPid] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parentPid)   // the parent died before the line above took effect
            ::_exit(127);
        ::setsid();                     // no controlling terminal, own process group
    });
    return process;
}

void killServerProcess(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    // Not reaped yet, so its id still names its own group and no stranger's.
    const pid_t pid = pid_t(process->processId());
    if (pid <= 1 || ::getpgid(pid) != pid || ::kill(-pid, SIGKILL) != 0)
        process->kill();
}

namespace {

// Socket inodes of the listening rows for the port in one /proc/net/tcp-style table.
void collectListeningInodes(const QString &table, int port, QSet<QByteArray> &inodes)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine();   // header
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() < 10 || fields.at(3) != "0A")
            continue;
        const QByteArray &local = fields.at(1);
        const int colon = local.lastIndexOf(':');
        bool ok = false;
        if (colon < 0 || local.mid(colon + 1).toInt(&ok, 16) != port || !ok)
            continue;
        if (fields.at(9) != "0")
            inodes.insert(fields.at(9));
    }
}

} // namespace

QList<qint64> listeningProcessIds(int port)
{
    QSet<QByteArray> inodes;
    collectListeningInodes(QStringLiteral("/proc/net/tcp"), port, inodes);
    collectListeningInodes(QStringLiteral("/proc/net/tcp6"), port, inodes);
    QList<qint64> pids;
    if (inodes.isEmpty())
        return pids;

    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : processes) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + entry + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            const QByteArray fdPath = QFile::encodeName(fdDir + QLatin1Char('/') + fd);
            char buffer[64];
            const ssize_t length = ::readlink(fdPath.constData(), buffer, sizeof buffer - 1);
            if (length <= 0)
                continue;
            const QByteArray link(buffer, int(length));
            if (!link.startsWith("socket:[") || !link.endsWith(']'))
                continue;
            const QByteArray inode = link.mid(8, link.size() - 9);
            if (inodes.contains(inode)) {
                pids.append(pid);
                break;
            }
        }
    }
    return pids;
}

int endPortOwners(int port)
{
    const qint64 self = QCoreApplication::applicationPid();
    int signalled = 0;
    for (const qint64 pid : listeningProcessIds(port)) {
        if (pid != self && pid > 1 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0)
            ++signalled;
    }
    return signalled;
}
