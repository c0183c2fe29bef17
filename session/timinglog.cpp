#include "session/timinglog.h"

#include <QElapsedTimer>
#include <QFile>

#ifdef Q_OS_LINUX
#include <ctime>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcTiming, "brindlemark.timing", QtWarningMsg)

namespace {

#ifdef Q_OS_LINUX
// The process start in boot-time milliseconds, from field 22 of /proc/self/stat (clock ticks).
double processStartBootMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces and parentheses: fields count from the last ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // fields[0] is field 3 (state); starttime is field 22.
    if (fields.size() < 20)
        return -1;
    bool ok = false;
    const qulonglong ticks = fields.at(19).toULongLong(&ok);
    const long hz = sysconf(_SC_CLK_TCK);
    return ok && hz > 0 ? double(ticks) * 1000.0 / double(hz) : -1;
}

double bootMsNow()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}
#endif

} // namespace

double msSinceProcessStart()
{
#ifdef Q_OS_LINUX
    static const double start = processStartBootMs();
    if (start >= 0)
        return bootMsNow() - start;
#endif
    static QElapsedTimer sinceFirstUse;
    if (!sinceFirstUse.isValid())
        sinceFirstUse.start();
    return double(sinceFirstUse.nsecsElapsed()) / 1e6;
}

void logTiming(const QString &milestone)
{
    if (timingEnabled())
        logTimingAt(msSinceProcessStart(), milestone);
}

void logTimingAt(double ms, const QString &milestone)
{
    if (!timingEnabled())
        return;
    qCDebug(lcTiming).noquote() << QString::number(ms, 'f', 1) << milestone;
}
