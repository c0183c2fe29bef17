#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (logout, systemctl --user stop), SIGINT and SIGHUP turned into a Qt signal, so that they
// end the program like its Quit entry: by default they would end it at once and leave the server
// of a wrapper script running. One instance per program, created on the main thread.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
