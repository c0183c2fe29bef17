#pragma once

#include <QObject>

class QTimer;

// Brindlehost started by a window ("--window-pid N") on a desktop without a system tray has no
// menu to be quit from and nothing showing it runs: it stops with that window (windowGone). With a
// tray it stays, as when started on its own. Polls once a second; main thread.
class WindowWatch : public QObject
{
    Q_OBJECT

public:
    // pid 0: no window to follow, never signals.
    explicit WindowWatch(qint64 pid, QObject *parent = nullptr);

    // "--window-pid N" among the program's arguments; 0 when absent or not a number.
    static qint64 pidFromArguments(const QStringList &arguments);
    // The process's start time, which tells it from a later process given the same id; empty
    // when no such process runs.
    static QByteArray processStartTime(qint64 pid);

signals:
    void windowGone();

private:
    void check();

    qint64 m_pid = 0;
    QByteArray m_startTime;
    QTimer *m_timer = nullptr;
};
