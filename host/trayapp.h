#pragma once

#include "host/servicesettings.h"
#include "host/servicestatus.h"
#include "host/settingsdialog.h"

#include <QFile>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class QAction;
class QActionGroup;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;

// Keeps one llama-server running for Brindlemark and shows its state in the tray. The window is
// never shown; it owns the tray objects. Works the same without a system tray: every state
// change is also written to standard error. Main thread only.
class TrayApp : public QMainWindow
{
    Q_OBJECT
public:
    explicit TrayApp(QWidget *parent = nullptr);
    ~TrayApp() override;

    void startServer();
    void stopServer();
    // The Quit entry, and what SIGTERM, SIGINT and SIGHUP do: stop the server, end the program.
    void quit();
    void openLog();
    void openSettings();
    // Takes the values of an accepted settings dialog.
    void applySettings(const ServiceSettings &values);
    // How often an online server is polled (15 s); tests shorten it.
    void setOnlinePollInterval(int ms) { onlinePollMs = ms; }

    ServiceState serviceState() const { return state; }
    QString statusText() const;
    const ServiceSettings &serviceSettings() const { return settings; }
    const ModelFiles &modelFiles() const { return files; }
    QString logPath() const;
    bool isAdopted() const { return adopted; }
    QProcess *serverProcess() const { return process; }
    QSystemTrayIcon *tray() const { return trayIcon; }
    QMenu *trayMenu() const { return menu; }
    SettingsDialog *openSettingsDialog() const { return settingsDialog; }

signals:
    void stateChanged(ServiceState state);
    void balloonShown(const QString &text);

protected:
    // Asks whether to restart the running service with changed settings.
    virtual bool confirmRestart();

private:
    void buildMenu();
    void retranslate();
    void chooseLanguage(QAction *action);
    void setStatus(ServiceState newState, const QString &detail = QString(),
                   const QString &argument = QString());
    void applyStartingLook();

    void sendHealthRequest(int timeoutMs, QPointer<QNetworkReply> &slot,
                           const std::function<void(bool ok)> &done);
    void abortHealthRequests();
    void probeExistingServer();
    void startingPoll();
    void onlinePoll();
    void appendLog(QProcess *source);
    void handleProcessError(QProcess *source, QProcess::ProcessError error);
    void handleExit(QProcess *source, int exitCode);
    void closeLog();

    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *menu = nullptr;
    QAction *statusAction = nullptr;
    QAction *startAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *autostartAction = nullptr;
    QAction *settingsAction = nullptr;
    QAction *logAction = nullptr;
    QAction *quitAction = nullptr;
    QMenu *languageMenu = nullptr;
    QActionGroup *languageGroup = nullptr;

    QString statusDetail;     // untranslated source string, kept for re-translation
    QString statusArg;
    QString lastReport;       // last line written to standard error
    bool retranslating = false;

    QProcess *process = nullptr;
    qint64 serverGroup = 0;   // process group of the server we started; 0: none
    QNetworkAccessManager *network = nullptr;
    QTimer startingTimer;
    QTimer onlineTimer;
    int onlinePollMs = 15000;
    QPointer<QNetworkReply> probeReply;
    QPointer<QNetworkReply> startingReply;
    QPointer<QNetworkReply> onlineReply;
    int generation = 0;       // bumped by every start and stop; older replies are ignored
    QPointer<SettingsDialog> settingsDialog;

    ServiceSettings settings;
    int servingPort = 0;      // port of the server being run or adopted; settings may change meanwhile
    ModelFiles files;
    QString appDir;
    ServiceState state = ServiceState::Stopped;
    QFile logFile;
    QByteArray logStartLine;   // written again when old output is dropped
    bool adopted = false;
    bool startAfterExit = false;   // a start asked for while the stopped server is still ending
};
