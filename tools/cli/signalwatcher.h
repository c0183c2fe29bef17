#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the thread that created the watcher: the handler
// only writes the signal number into a socket pair, which is async-signal-safe. One watcher at a
// time; the previous handlers come back when it is destroyed.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void interrupted(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignals();

    int m_fds[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};
