#include "host/serverprocess.h"

#include "host/servicesettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>

#include <QSettings>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

namespace {

// The read end of a pipe whose write end only this program holds (close-on-exec, never closed):
// it reads end-of-file once the program is gone, however it ended. -1 when none could be made.
int watchdogPipe()
{
    static const int readEnd = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        return fds[0];
    }();
    return readEnd;
}

// Runs in a process forked off the server's first process, in the server's group: waits until this
// program is gone, then ends the group. A wrapper script dies with this program (PDEATHSIG), but
// the server it started would be left to init, holding the port and the model's memory.
[[noreturn]] void watchOverGroup(int readEnd)
{
    // Keeps nothing of the program open but the pipe: no socket, no log, no output channel.
    ::dup2(readEnd, STDIN_FILENO);
    ::close_range(1, ~0U, 0);
    char byte;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    ::kill(0, SIGKILL);   // the whole group, this watchdog included
    ::_exit(0);
}

QString bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

// Start time of a process in clock ticks since boot (field 22 of /proc/PID/stat); -1 when it is gone.
qint64 startTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    // After the name: state (field 3) ... starttime (field 22).
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toLongLong() : -1;
}

const QString kGroupKey = QStringLiteral("server/processGroup");
const QString kStartKey = QStringLiteral("server/processStart");
const QString kBootKey = QStringLiteral("server/boot");

} // namespace

QProcess *createServerProcess(QObject *parent)
{
    auto *process = new QProcess(parent);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setInputChannelMode(QProcess::ManagedInputChannel);
    const pid_t parentPid = getpid();
    const int watchdog = watchdogPipe();
    // Runs in the child between fork and exec: only async-signal-safe calls.
    process->setChildProcessModifier([parentPid, watchdog] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parentPid)   // the parent died before the line above took effect
            ::_exit(127);
        ::setsid();                     // no controlling terminal, own process group
        // _Fork runs no fork handlers: safe here, unlike fork.
        if (watchdog >= 0 && ::_Fork() == 0)
            watchOverGroup(watchdog);
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

void endServerGroup(qint64 group)
{
    // The group's watchdog keeps its id taken until it ends the group, so it names no stranger's.
    if (group > 1)
        ::kill(-pid_t(group), SIGKILL);
}

void recordServerGroup(qint64 group)
{
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost"));
    settings.setValue(kGroupKey, group);
    settings.setValue(kStartKey, startTicks(group));
    settings.setValue(kBootKey, bootId());
}

void forgetServerGroup()
{
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost"));
    settings.remove(kGroupKey);
    settings.remove(kStartKey);
    settings.remove(kBootKey);
}

bool endRecordedServerGroup()
{
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost"));
    const qint64 group = settings.value(kGroupKey).toLongLong();
    const qint64 start = settings.value(kStartKey).toLongLong();
    const QString boot = settings.value(kBootKey).toString();
    forgetServerGroup();
    if (group <= 1 || boot.isEmpty() || boot != bootId())
        return false;
    // A group id stays taken while any member lives; only a new process with the same id as its
    // leader (started later) could take it over once all of ours were gone.
    const qint64 leaderStart = startTicks(group);
    if (leaderStart >= 0 && leaderStart != start)
        return false;
    return ::kill(-pid_t(group), SIGKILL) == 0;
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
