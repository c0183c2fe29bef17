#include "host/trayapp.h"

#include "host/autostart.h"
#include "host/serverprocess.h"
#include "host/settingsdialog.h"
#include "shared/language.h"
#include "shared/languagefont.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <cstdio>

namespace {

// A server that runs for weeks logs every request; past this size the oldest output goes.
constexpr qint64 kLogLimit = qint64(16) << 20;

} // namespace

TrayApp::TrayApp(QWidget *parent)
    : QMainWindow(parent)
    , appDir(QCoreApplication::applicationDirPath())
{
    setWindowTitle(QStringLiteral("Brindlehost"));

    settings = loadServiceSettings();
    discoverPaths(settings, appDir);
    const bool haveModel = scanModels(settings, files);

    network = new QNetworkAccessManager(this);
    buildMenu();
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(menu);
    trayIcon->setToolTip(translateText("Brindlehost — 本地 AI 服务"));
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            menu->popup(QCursor::pos());
    });
    setStatus(ServiceState::Stopped);
    trayIcon->show();

    connect(&startingTimer, &QTimer::timeout, this, &TrayApp::startingPoll);
    connect(&onlineTimer, &QTimer::timeout, this, &TrayApp::onlinePoll);

    // A server of ours that outlived a crash (its watchdog killed as well) holds the port and
    // the model's memory: it is ended before anything else is started.
    endRecordedServerGroup();
    if (haveModel)
        QTimer::singleShot(500, this, &TrayApp::probeExistingServer);
    else
        setStatus(ServiceState::Error, QStringLiteral("模型目录未找到 GGUF"));
}

TrayApp::~TrayApp()
{
    // The server never outlives the tray program, even when it was not stopped from the menu.
    // Ending it here is a stop, not a failure.
    state = ServiceState::Stopped;
    startAfterExit = false;
    if (process && process->state() != QProcess::NotRunning) {
        killServerProcess(process);
        process->waitForFinished(3000);
    }
    if (serverGroup != 0)
        forgetServerGroup();
    // Processes still being deleted must not call back into a half-destroyed window.
    for (QProcess *child : findChildren<QProcess *>())
        child->disconnect(this);
    closeLog();
}

void TrayApp::buildMenu()
{
    menu = new QMenu(this);
    statusAction = menu->addAction(QString());
    statusAction->setEnabled(false);
    menu->addSeparator();
    startAction = menu->addAction(QString(), this, &TrayApp::startServer);
    stopAction = menu->addAction(QString(), this, &TrayApp::stopServer);
    stopAction->setEnabled(false);
    menu->addSeparator();
    autostartAction = menu->addAction(QString());
    autostartAction->setCheckable(true);
    autostartAction->setChecked(autostartEnabled());
    connect(autostartAction, &QAction::toggled, this, [](bool on) { setAutostart(on); });
    settingsAction = menu->addAction(QString(), this, &TrayApp::openSettings);
    logAction = menu->addAction(QString(), this, &TrayApp::openLog);
    menu->addSeparator();
    languageMenu = menu->addMenu(QString());
    languageGroup = new QActionGroup(this);
    languageGroup->setExclusive(true);
    for (const auto &language : languageList()) {
        QAction *action = languageMenu->addAction(language.second);
        action->setData(language.first);
        action->setCheckable(true);
        languageGroup->addAction(action);
    }
    connect(languageGroup, &QActionGroup::triggered, this, &TrayApp::chooseLanguage);
    menu->addSeparator();
    quitAction = menu->addAction(QString(), this, &TrayApp::quit);
    retranslate();
}

void TrayApp::quit()
{
    stopServer();
    QCoreApplication::quit();
}

void TrayApp::retranslate()
{
    startAction->setText(translateText("启动服务"));
    stopAction->setText(translateText("停止服务"));
    autostartAction->setText(translateText("随系统启动"));
    settingsAction->setText(translateText("设置…"));
    logAction->setText(translateText("打开日志"));
    languageMenu->setTitle(translateText("语言"));
    quitAction->setText(translateText("退出"));
    const QString code = currentLanguageCode();
    for (QAction *action : languageGroup->actions())
        action->setChecked(action->data().toString() == code);
}

void TrayApp::chooseLanguage(QAction *action)
{
    const QString code = action->data().toString();
    if (code == currentLanguageCode())
        return;
    setLanguage(code);
    applyLanguageFont();
    retranslate();
    retranslating = true;
    if (state == ServiceState::Error)
        setStatus(state, statusDetail, statusArg);
    else
        setStatus(state);
    retranslating = false;
}

QString TrayApp::statusText() const
{
    return statusAction->text();
}

QString TrayApp::logPath() const
{
    return logFilePath(settings, appDir);
}

void TrayApp::setStatus(ServiceState newState, const QString &detail, const QString &argument)
{
    const bool changed = newState != state;
    state = newState;
    statusDetail = detail;
    statusArg = argument;

    statusAction->setText(statusLine(state, detail, argument, servingPort));
    trayIcon->setToolTip(statusToolTip(state, detail, argument, QFileInfo(files.modelPath).fileName()));
    trayIcon->setIcon(makeStatusIcon(statusColor(state)));
    startAction->setEnabled(state == ServiceState::Stopped || state == ServiceState::Error);
    stopAction->setEnabled(state == ServiceState::Starting || state == ServiceState::Online);

    const QString report = stateReport(state, detail, argument);
    if (report != lastReport) {
        lastReport = report;
        std::fputs(report.toUtf8().append('\n').constData(), stderr);
        std::fflush(stderr);
    }

    if (state == ServiceState::Error && !detail.isEmpty() && !retranslating) {
        const QString text = errorMessage(detail, argument);
        if (QSystemTrayIcon::isSystemTrayAvailable())
            trayIcon->showMessage(QStringLiteral("Brindlehost"), text, QSystemTrayIcon::Warning, 4000);
        emit balloonShown(text);
    }
    if (changed)
        emit stateChanged(state);
}

void TrayApp::applyStartingLook()
{
    setStatus(ServiceState::Starting);
}

void TrayApp::sendHealthRequest(int timeoutMs, QPointer<QNetworkReply> &slot,
                                const std::function<void(bool ok)> &done)
{
    if (slot)
        return;   // the previous request of this kind is still in flight
    QNetworkRequest request{QUrl(healthUrl(servingPort))};
    request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = network->get(request);
    slot = reply;
    const int sentIn = generation;
    connect(reply, &QNetworkReply::finished, this, [this, reply, sentIn, done] {
        reply->deleteLater();
        if (sentIn != generation)
            return;   // answer about a server that has since been stopped or restarted
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        done(reply->error() == QNetworkReply::NoError && status >= 200 && status < 300);
    });
}

void TrayApp::abortHealthRequests()
{
    // Their answers belong to the previous generation and are ignored when they finish.
    for (QNetworkReply *reply : {probeReply.data(), startingReply.data(), onlineReply.data()}) {
        if (reply)
            reply->abort();
    }
}

void TrayApp::probeExistingServer()
{
    if (process || state != ServiceState::Stopped)
        return;   // the user started the service before the probe
    servingPort = settings.port;
    sendHealthRequest(1500, probeReply, [this](bool ok) {
        if (process || state != ServiceState::Stopped)
            return;
        if (ok) {
            adopted = true;
            setStatus(ServiceState::Online);
            onlineTimer.start(onlinePollMs);
        } else {
            startServer();
        }
    });
}

void TrayApp::startingPoll()
{
    sendHealthRequest(1500, startingReply, [this](bool ok) {
        if (state != ServiceState::Starting)
            return;
        if (ok) {
            startingTimer.stop();
            setStatus(ServiceState::Online);
            onlineTimer.start(onlinePollMs);
        } else if (adopted) {
            startingTimer.stop();
            adopted = false;
            setStatus(ServiceState::Error, QStringLiteral("服务进程退出"));
        } else {
            applyStartingLook();
        }
    });
}

void TrayApp::onlinePoll()
{
    if (state != ServiceState::Online)
        return;
    sendHealthRequest(3000, onlineReply, [this](bool ok) {
        if (ok || state != ServiceState::Online)
            return;
        onlineTimer.stop();
        applyStartingLook();
        startingTimer.start(1200);
    });
}

void TrayApp::startServer()
{
    if (process && process->state() != QProcess::NotRunning) {
        // A stopped server that has not ended yet holds the port: start once it is gone.
        if (state == ServiceState::Stopped)
            startAfterExit = true;
        return;
    }
    startAfterExit = false;
    adopted = false;

    if (files.modelPath.isEmpty())
        scanModels(settings, files);
    if (files.modelPath.isEmpty()) {
        setStatus(ServiceState::Error, QStringLiteral("未找到模型 GGUF"));
        return;
    }
    if (settings.llamaExe.isEmpty() || !QFileInfo(settings.llamaExe).isFile()) {
        setStatus(ServiceState::Error, QStringLiteral("未找到 llama-server.exe（设置中指定路径）"));
        return;
    }

    closeLog();
    logFile.setFileName(logPath());
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        const QString line = QStringLiteral("=== Brindlehost server start %1 ===\n")
                                 .arg(QDateTime::currentDateTime().toString(Qt::ISODate));
        logStartLine = line.toUtf8();
        logFile.write(logStartLine);
        logFile.flush();
    }

    ++generation;
    abortHealthRequests();
    servingPort = settings.port;
    QProcess *started = createServerProcess(this);
    process = started;
    connect(started, &QProcess::started, this, [this, started] {
        if (started != process)
            return;
        serverGroup = started->processId();
        recordServerGroup(serverGroup);
    });
    connect(started, &QProcess::readyRead, this, [this, started] { appendLog(started); });
    connect(started, &QProcess::errorOccurred, this,
            [this, started](QProcess::ProcessError error) { handleProcessError(started, error); });
    connect(started, &QProcess::finished, this,
            [this, started](int exitCode) { handleExit(started, exitCode); });

    // The look comes first so that a start failure reported at once is not overwritten.
    startingTimer.start(1200);
    setStatus(ServiceState::Starting);
    started->start(settings.llamaExe, serverArguments(settings, files));
}

void TrayApp::stopServer()
{
    startAfterExit = false;
    ++generation;
    abortHealthRequests();
    state = ServiceState::Stopped;
    startingTimer.stop();
    onlineTimer.stop();
    if (!adopted || process) {
        killServerProcess(process);
    } else {
        adopted = false;
        endPortOwners(servingPort);
    }
    setStatus(ServiceState::Stopped);
}

void TrayApp::appendLog(QProcess *source)
{
    QByteArray output = source->readAll();
    if (source != process || !logFile.isOpen())
        return;
    if (logFile.size() + output.size() > kLogLimit) {
        // Start again with the start line; the newest output is what tells what went wrong.
        const QByteArray dropped("=== earlier output dropped ===\n");
        output = output.right(kLogLimit / 2);
        logFile.resize(0);
        logFile.seek(0);
        logFile.write(logStartLine + dropped);
    }
    logFile.write(output);
    logFile.flush();
}

void TrayApp::handleProcessError(QProcess *source, QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || source != process)
        return;
    startingTimer.stop();
    onlineTimer.stop();
    closeLog();
    source->deleteLater();
    process = nullptr;
    setStatus(ServiceState::Error, QStringLiteral("llama-server 启动失败"));
}

void TrayApp::handleExit(QProcess *source, int exitCode)
{
    source->deleteLater();
    if (source != process)
        return;   // a process that was replaced after a stop; its run is over already
    appendLog(source);
    // A wrapper script that ended may leave its llama-server running in the group.
    if (serverGroup != 0) {
        endServerGroup(serverGroup);
        forgetServerGroup();
        serverGroup = 0;
    }
    startingTimer.stop();
    onlineTimer.stop();
    if (logFile.isOpen()) {
        logFile.write(QStringLiteral("=== exit code %1 ===\n").arg(exitCode).toUtf8());
        closeLog();
    }
    process = nullptr;
    if (state != ServiceState::Stopped)
        setStatus(ServiceState::Error, QStringLiteral("服务进程退出 (%1)"), QString::number(exitCode));
    else if (startAfterExit)
        startServer();
}

void TrayApp::closeLog()
{
    if (logFile.isOpen())
        logFile.close();
}

void TrayApp::openLog()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(logPath()));
}

void TrayApp::openSettings()
{
    auto *dialog = new SettingsDialog(settings);
    settingsDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] { applySettings(dialog->values()); });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void TrayApp::applySettings(const ServiceSettings &values)
{
    const bool changed = values != settings;
    settings = values;
    saveServiceSettings(settings);
    scanModels(settings, files);
    if (changed && state != ServiceState::Stopped && confirmRestart()) {
        stopServer();
        QTimer::singleShot(800, this, &TrayApp::startServer);
    }
}

bool TrayApp::confirmRestart()
{
    return QMessageBox::question(nullptr, translateText("重启服务"),
                                 translateText("设置已更改，立即重启服务？"),
                                 QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}
