#include "host/windowwatch.h"

#include <QFile>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

WindowWatch::WindowWatch(qint64 pid, QObject *parent)
    : QObject(parent)
    , m_pid(pid)
{
    if (m_pid <= 0)
        return;
    m_startTime = processStartTime(m_pid);
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &WindowWatch::check);
    m_timer->start();
}

qint64 WindowWatch::pidFromArguments(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--window-pid"));
    if (at < 0 || at + 1 >= arguments.size())
        return 0;
    bool ok = false;
    const qint64 pid = arguments.at(at + 1).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

QByteArray WindowWatch::processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    // "pid (name) state ppid ...": the name may hold spaces and parentheses, the fields after the
    // last ")" do not; the start time is the 22nd field, the 20th after it.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20 || fields.at(0) == "Z")
        return {};   // a zombie has ended already
    return fields.at(19);
}

void WindowWatch::check()
{
    if (!m_startTime.isEmpty() && processStartTime(m_pid) == m_startTime)
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_timer->stop();   // the tray's Quit is the user's way out, as for a host started alone
        return;
    }
    m_timer->stop();
    emit windowGone();
}
