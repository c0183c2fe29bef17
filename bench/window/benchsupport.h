#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <optional>

// What the window benchmarks share: printing, the timing log reader, xdotool.

inline void say(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

inline bool xdotool(const QStringList &args, QString *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return false;
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

// "min  median  max" of a list of figures.
inline QString spread(QList<double> values, int decimals = 1)
{
    if (values.isEmpty())
        return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    return QStringLiteral("min %1  median %2  max %3")
        .arg(values.first(), 0, 'f', decimals)
        .arg(values.at(values.size() / 2), 0, 'f', decimals)
        .arg(values.last(), 0, 'f', decimals);
}

// The programs' environment: their own HOME, XDG folders and runtime folder under home, the timing
// log on, and the X server rather than the offscreen platform.
inline QProcessEnvironment programEnvironment(const QString &home)
{
    const QString runtime = home + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("brindlemark.timing.debug=true"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

// The process's peak resident memory (VmHWM), or -1.
inline qint64 peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One line of the program's "brindlemark.timing" log: milliseconds since its start, then text.
struct Milestone
{
    double ms = 0;
    QString text;
};

// Reads the timing lines of a running program from its standard error as they come.
class TimingReader
{
public:
    explicit TimingReader(QProcess *process) : m_process(process) {}

    // Waits for the first line (after those already consumed) that starts with prefix.
    std::optional<Milestone> waitFor(const QString &prefix, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_next < m_lines.size()) {
                const Milestone &m = m_lines.at(m_next++);
                if (m.text.startsWith(prefix))
                    return m;
            }
            if (timer.elapsed() > timeoutMs || m_process->state() == QProcess::NotRunning)
                return std::nullopt;
            m_process->waitForReadyRead(50);
            readMore();
        }
    }

    // The last line read so far that starts with prefix, consumed or not.
    std::optional<Milestone> latest(const QString &prefix)
    {
        readMore();
        for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
            if (m_lines.at(i).text.startsWith(prefix))
                return m_lines.at(i);
        }
        return std::nullopt;
    }

    // Waits for a line that starts with prefix, among those read so far too.
    std::optional<Milestone> waitForAny(const QString &prefix, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (const auto m = latest(prefix))
                return m;
            if (timer.elapsed() > timeoutMs || m_process->state() == QProcess::NotRunning)
                return std::nullopt;
            m_process->waitForReadyRead(50);
        }
    }

    // Every line read so far that starts with prefix.
    QList<Milestone> all(const QString &prefix)
    {
        readMore();
        QList<Milestone> found;
        for (const Milestone &m : std::as_const(m_lines)) {
            if (m.text.startsWith(prefix))
                found.append(m);
        }
        return found;
    }

    // The last lines read, for a message when a milestone does not come.
    QString tail(int count)
    {
        readMore();
        QStringList lines;
        for (qsizetype i = std::max<qsizetype>(0, m_lines.size() - count); i < m_lines.size(); ++i)
            lines.append(QStringLiteral("  %1 %2").arg(m_lines.at(i).ms, 0, 'f', 1).arg(m_lines.at(i).text));
        return lines.join(QLatin1Char('\n'));
    }

    // Consumes everything read so far.
    void skipAll()
    {
        readMore();
        m_next = m_lines.size();
    }

private:
    void readMore()
    {
        static const QRegularExpression line(QStringLiteral("^brindlemark\\.timing: ([0-9.]+) (.*)$"));
        m_buffer += m_process->readAllStandardError();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QString text = QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            const auto match = line.match(text);
            if (match.hasMatch())
                m_lines.append({match.captured(1).toDouble(), match.captured(2)});
        }
    }

    QProcess *m_process;
    QByteArray m_buffer;
    QList<Milestone> m_lines;
    qsizetype m_next = 0;
};
