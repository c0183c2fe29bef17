#include "host/autostart.h"
#include "host/serverprocess.h"
#include "host/servicesettings.h"
#include "host/servicestatus.h"
#include "host/settingsdialog.h"
#include "host/trayapp.h"
#include "shared/language.h"
#include "hosttestutil.h"
#include "testmain.h"

#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>

#include <csignal>
#include <memory>

namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QAction *actionWithText(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

class TestTray : public TrayApp
{
public:
    TestTray() { setOnlinePollInterval(1000); }
    int questions = 0;
    bool answer = true;

protected:
    bool confirmRestart() override
    {
        ++questions;
        return answer;
    }
};

constexpr int kWait = 15000;

} // namespace

class TestTrayApp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<ServiceState>(); }

    void init()
    {
        models = std::make_unique<QTemporaryDir>();
        makeFile(QStringLiteral("qwen-Q4_K_M.gguf"), 1100LL << 20);
        makeFile(QStringLiteral("mmproj-qwen-F16.gguf"), 800LL << 20);
        record = models->path() + QStringLiteral("/args.txt");
        qputenv("FAKE_LLAMA_RECORD", record.toUtf8());
        qputenv("FAKE_LLAMA_DELAY_MS", "200");
        qunsetenv("FAKE_LLAMA_MODE");
        qunsetenv("FAKE_LLAMA_CHATTER_MB");
        setLanguage(QStringLiteral("en"));

        settings = ServiceSettings();
        settings.port = freePort();
        settings.llamaExe = QStringLiteral(FAKE_LLAMA_SERVER);
        settings.modelDir = models->path();
        saveServiceSettings(settings);
    }

    void cleanup()
    {
        if (external) {
            external->kill();
            external->waitForFinished();
            external.reset();
        }
        QFile::remove(autostartEntryPath());
        if (leftoverPid > 0 && !processGone(leftoverPid))
            ::kill(pid_t(leftoverPid), SIGKILL);   // only after a failure
        leftoverPid = 0;
    }

    void startsAndGoesOnline()
    {
        TestTray tray;
        QSignalSpy states(&tray, &TrayApp::stateChanged);
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(0).at(0).value<ServiceState>(), ServiceState::Starting);
        QCOMPARE(states.at(1).at(0).value<ServiceState>(), ServiceState::Online);
        QVERIFY(!tray.isAdopted());
        QVERIFY(tray.serverProcess());
        QCOMPARE(tray.statusText(), QStringLiteral("● Online http://127.0.0.1:%1/v1").arg(settings.port));
        QCOMPARE(tray.tray()->toolTip(), QStringLiteral("Brindlehost — Online (qwen-Q4_K_M.gguf)"));

        const QString model = models->path() + QStringLiteral("/qwen-Q4_K_M.gguf");
        const QString mmproj = models->path() + QStringLiteral("/mmproj-qwen-F16.gguf");
        const QStringList expected{QString::number(tray.serverProcess()->processId()),
                                   "-m", model, "--mmproj", mmproj, "--host", "127.0.0.1",
                                   "--port", QString::number(settings.port), "-ngl", "99", "-c", "8192",
                                   "--jinja", "--no-webui", "--image-min-tokens", "1024",
                                   "--reasoning-budget", "0", "--alias", "qwen"};
        QCOMPARE(readLines(record), expected);

        QSignalSpy balloons(&tray, &TrayApp::balloonShown);
        tray.stopServer();
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);
        QTRY_VERIFY_WITH_TIMEOUT(!tray.serverProcess(), kWait);
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);   // a requested stop is no error
        QCOMPARE(balloons.size(), 0);

        const QStringList log = readLines(models->path() + QStringLiteral("/server.log"));
        QVERIFY(log.size() >= 3);
        QVERIFY2(QRegularExpression(QStringLiteral(
                     "^=== Brindlehost server start \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d ===$"))
                     .match(log.first()).hasMatch(), qPrintable(log.first()));
        QVERIFY(log.contains(QStringLiteral("fake llama-server: loading model")));
        QVERIFY2(QRegularExpression(QStringLiteral("^=== exit code -?\\d+ ===$")).match(log.last()).hasMatch(),
                 qPrintable(log.last()));
    }

    void exitWhileOnlineIsError()
    {
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QSignalSpy balloons(&tray, &TrayApp::balloonShown);
        ::kill(pid_t(tray.serverProcess()->processId()), SIGUSR1);   // the fake exits with code 3
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Error, kWait);
        QCOMPARE(tray.statusText(), QStringLiteral("● Server process exited (3)"));
        QCOMPARE(tray.tray()->toolTip(), QStringLiteral("Brindlehost — Server process exited (3)"));
        QCOMPARE(balloons.size(), 1);
        QCOMPARE(balloons.at(0).at(0).toString(), QStringLiteral("Server process exited (3)"));
        QVERIFY(!tray.serverProcess());
        const QStringList log = readLines(tray.logPath());
        QCOMPARE(log.last(), QStringLiteral("=== exit code 3 ==="));
        QCOMPARE(log.at(log.size() - 2), QStringLiteral("fake llama-server: dying"));
    }

    void failedServerLogsItsOutput()
    {
        qputenv("FAKE_LLAMA_MODE", "exit:7");
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Error, kWait);
        QCOMPARE(tray.statusText(), QStringLiteral("● Server process exited (7)"));
        const QStringList log = readLines(tray.logPath());
        QVERIFY(log.first().startsWith(QStringLiteral("=== Brindlehost server start ")));
        QVERIFY(log.contains(QStringLiteral("fake llama-server: error: failed to load model")));
        QCOMPARE(log.last(), QStringLiteral("=== exit code 7 ==="));

        // A second run replaces the log: its first line is again the start line.
        qputenv("FAKE_LLAMA_MODE", "exit:9");
        tray.startServer();
        QCOMPARE(tray.serviceState(), ServiceState::Starting);
        QTRY_COMPARE_WITH_TIMEOUT(tray.statusText(), QStringLiteral("● Server process exited (9)"), kWait);
        const QStringList second = readLines(tray.logPath());
        QCOMPARE(second.count(QStringLiteral("fake llama-server: loading model")), 1);
        QVERIFY(second.first().startsWith(QStringLiteral("=== Brindlehost server start ")));
        QCOMPARE(second.last(), QStringLiteral("=== exit code 9 ==="));
    }

    // A server that runs for weeks keeps writing; its log keeps the start line and the newest
    // output, not everything.
    void chattyServerLogStaysBounded()
    {
        qputenv("FAKE_LLAMA_CHATTER_MB", "48");
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        qunsetenv("FAKE_LLAMA_CHATTER_MB");
        QTRY_VERIFY_WITH_TIMEOUT(readLines(tray.logPath()).contains(
                                     QStringLiteral("fake llama-server: chatter done")), kWait);
        QVERIFY2(QFileInfo(tray.logPath()).size() < (qint64(48) << 20) / 2,
                 qPrintable(QString::number(QFileInfo(tray.logPath()).size())));
        tray.stopServer();
        QTRY_VERIFY_WITH_TIMEOUT(!tray.serverProcess(), kWait);
        const QStringList log = readLines(tray.logPath());
        QVERIFY(log.first().startsWith(QStringLiteral("=== Brindlehost server start ")));
        QCOMPARE(log.at(1), QStringLiteral("=== earlier output dropped ==="));
        QVERIFY(log.contains(QStringLiteral("fake llama-server: chatter done")));
        QVERIFY(log.last().startsWith(QStringLiteral("=== exit code ")));
    }

    void keepsStartingWhileTheServerDoesNotAnswer_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("error status") << QByteArray("http500");
        QTest::newRow("no answer") << QByteArray("silent");
    }

    void keepsStartingWhileTheServerDoesNotAnswer()
    {
        QFETCH(QByteArray, mode);
        qputenv("FAKE_LLAMA_MODE", mode);
        TestTray tray;
        QSignalSpy states(&tray, &TrayApp::stateChanged);
        // Two polls reached the server and neither moved the state on.
        QTRY_VERIFY_WITH_TIMEOUT(readLines(tray.logPath()).count(
                                     QStringLiteral("fake llama-server: request (%1)").arg(QString::fromLatin1(mode))) >= 2,
                                 kWait);
        QCOMPARE(tray.serviceState(), ServiceState::Starting);
        QCOMPARE(states.size(), 1);

        tray.stopServer();
        QTRY_VERIFY_WITH_TIMEOUT(!tray.serverProcess(), kWait);
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);
        QCOMPARE(tray.statusText(), QStringLiteral("● Service not started"));
    }

    // A start right after a stop finds the killed server not yet reaped (a large model takes a
    // while to unmap); it must follow once the old one is gone, unless a new stop cancelled it.
    void startRightAfterStop_data()
    {
        QTest::addColumn<bool>("stopAgain");
        QTest::newRow("start") << false;
        QTest::newRow("start, then stop again") << true;
    }

    void startRightAfterStop()
    {
        QFETCH(bool, stopAgain);
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        const qint64 firstPid = tray.serverProcess()->processId();

        tray.stopServer();
        tray.startServer();
        if (stopAgain)
            tray.stopServer();
        if (stopAgain) {
            QTRY_VERIFY_WITH_TIMEOUT(!tray.serverProcess(), kWait);
            QCOMPARE(tray.serviceState(), ServiceState::Stopped);
            QCOMPARE(readLines(record).value(0), QString::number(firstPid));   // never started again
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
            QVERIFY(tray.serverProcess()->processId() != firstPid);
            QCOMPARE(readLines(record).value(0), QString::number(tray.serverProcess()->processId()));
        }
    }

    // llama-server is often run through a wrapper script that sets library paths; stopping or
    // closing must end the real server too, not only the script. The paths hold spaces, quotes
    // and non-ASCII letters.
    void serverEndsWithItsWrapper_data()
    {
        QTest::addColumn<bool>("wrapped");
        QTest::addColumn<bool>("closeTray");
        QTest::newRow("direct, stop") << false << false;
        QTest::newRow("wrapped, stop") << true << false;
        QTest::newRow("wrapped, tray closed") << true << true;
    }

    void serverEndsWithItsWrapper()
    {
        QFETCH(bool, wrapped);
        QFETCH(bool, closeTray);
        const QString dir = models->path() + QStringLiteral("/llama \"bin\" 'ü' $x");
        QVERIFY(QDir().mkpath(dir));
        settings.modelDir = dir;
        QVERIFY(QFile::copy(models->path() + QStringLiteral("/qwen-Q4_K_M.gguf"), dir + QStringLiteral("/qwen-Q4_K_M.gguf")));
        if (wrapped) {
            settings.llamaExe = dir + QStringLiteral("/run server.sh");
            QFile script(settings.llamaExe);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n'" FAKE_LLAMA_SERVER "' \"$@\"\n");   // no exec: the server is a grandchild
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        }
        saveServiceSettings(settings);

        auto tray = std::make_unique<TestTray>();
        QTRY_COMPARE_WITH_TIMEOUT(tray->serviceState(), ServiceState::Online, kWait);
        const QStringList args = readLines(record);
        const qint64 serverPid = args.value(0).toLongLong();
        QVERIFY(serverPid > 0);
        leftoverPid = serverPid;
        QCOMPARE(args.value(2), dir + QStringLiteral("/qwen-Q4_K_M.gguf"));
        QCOMPARE(serverPid == tray->serverProcess()->processId(), !wrapped);

        if (closeTray) {
            tray.reset();
        } else {
            tray->stopServer();
            QTRY_VERIFY_WITH_TIMEOUT(!tray->serverProcess(), kWait);
        }
        QTRY_VERIFY_WITH_TIMEOUT(processGone(serverPid), kWait);
    }

    void startErrors_data()
    {
        QTest::addColumn<QString>("exe");          // "fake", "missing" or "plain" (not executable)
        QTest::addColumn<bool>("withModels");
        QTest::addColumn<QString>("atConstruction");
        QTest::addColumn<QString>("atStart");
        QTest::newRow("no model")
            << "fake" << false << "● No GGUF found in model directory" << "● No GGUF model found";
        QTest::newRow("no executable")
            << "missing" << true << QString() << "● llama-server not found (set its path in Settings)";
        QTest::newRow("not executable")
            << "plain" << true << QString() << "● Failed to start llama-server";
    }

    void startErrors()
    {
        QFETCH(QString, exe);
        QFETCH(bool, withModels);
        QFETCH(QString, atConstruction);
        QFETCH(QString, atStart);
        if (!withModels)
            QVERIFY(QFile::remove(models->path() + QStringLiteral("/qwen-Q4_K_M.gguf")));
        if (exe == QLatin1String("missing")) {
            settings.llamaExe = models->path() + QStringLiteral("/nothing-here");
        } else if (exe == QLatin1String("plain")) {
            settings.llamaExe = models->path() + QStringLiteral("/llama-server");
            makeFile(QStringLiteral("llama-server"), 10);
        }
        saveServiceSettings(settings);

        TestTray tray;
        QSignalSpy balloons(&tray, &TrayApp::balloonShown);
        if (!atConstruction.isEmpty()) {
            QCOMPARE(tray.serviceState(), ServiceState::Error);
            QCOMPARE(tray.statusText(), atConstruction);
            tray.startServer();
        }
        QTRY_COMPARE_WITH_TIMEOUT(tray.statusText(), atStart, kWait);
        QCOMPARE(tray.serviceState(), ServiceState::Error);
        QVERIFY(!tray.serverProcess());
        QVERIFY(!balloons.isEmpty());
        QCOMPARE(QStringLiteral("● ") + balloons.last().at(0).toString(), atStart);
        QVERIFY(!QFile::exists(record));   // the fake never ran
    }

    void adoptsARunningServerAndStopsIt()
    {
        startExternalServer();
        TestTray tray;
        QSignalSpy states(&tray, &TrayApp::stateChanged);
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QVERIFY(tray.isAdopted());
        QVERIFY(!tray.serverProcess());
        QCOMPARE(states.size(), 1);   // straight to Online, never Starting

        tray.stopServer();
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);
        QVERIFY(!tray.isAdopted());
        QVERIFY(external->waitForFinished(kWait));
        QCOMPARE(external->exitStatus(), QProcess::CrashExit);   // ended from outside
    }

    void adoptedServerThatStopsAnsweringIsError()
    {
        startExternalServer();
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QVERIFY(tray.isAdopted());
        external->kill();
        external->waitForFinished();
        // The online poll runs every second here; Starting then Error follow the lost answers.
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Error, 40000);
        QCOMPARE(tray.statusText(), QStringLiteral("● Server process exited"));
        QVERIFY(!tray.isAdopted());
    }

    void settingsDialogWithoutChangesAsksNothing()
    {
        TestTray tray;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        tray.openSettings();
        QPointer<SettingsDialog> dialog = tray.openSettingsDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->values(), tray.serviceSettings());
        dialog->accept();
        QCOMPARE(tray.questions, 0);
        QCOMPARE(tray.serviceState(), ServiceState::Online);
        QTRY_VERIFY(!dialog);   // deletes itself when closed
    }

    void changedPortRestartsOnYes_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }

    void changedPortRestartsOnYes()
    {
        QFETCH(bool, answer);
        TestTray tray;
        tray.answer = answer;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        const qint64 firstPid = tray.serverProcess()->processId();

        tray.openSettings();
        SettingsDialog *dialog = tray.openSettingsDialog();
        const int newPort = freePort();
        dialog->findChildren<QSpinBox *>().first()->setValue(newPort);
        dialog->accept();
        QCOMPARE(tray.questions, 1);
        QCOMPARE(loadServiceSettings().port, newPort);   // saved either way

        if (!answer) {
            QCOMPARE(tray.serviceState(), ServiceState::Online);
            QCOMPARE(tray.serverProcess()->processId(), firstPid);
            return;
        }
        QCOMPARE(tray.serviceState(), ServiceState::Stopped);
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QVERIFY(tray.serverProcess()->processId() != firstPid);
        const QStringList args = readLines(record);
        QCOMPARE(args.at(args.indexOf(QStringLiteral("--port")) + 1), QString::number(newPort));
        QCOMPARE(tray.statusText(), QStringLiteral("● Online http://127.0.0.1:%1/v1").arg(newPort));
    }

    // The adopted server keeps the port it was found on until it is restarted: a new port in the
    // settings must neither end a stranger listening there nor lose sight of the running server.
    void adoptedServerKeepsItsPortAfterSettingsChange_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("restart") << true;
        QTest::newRow("keep running") << false;
    }

    void adoptedServerKeepsItsPortAfterSettingsChange()
    {
        QFETCH(bool, answer);
        startExternalServer();
        TestTray tray;
        tray.answer = answer;
        QTRY_COMPARE_WITH_TIMEOUT(tray.serviceState(), ServiceState::Online, kWait);
        QVERIFY(tray.isAdopted());
        const int oldPort = settings.port;

        const int newPort = freePort();
        QProcess stranger;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAKE_LLAMA_DELAY_MS"), QStringLiteral("0"));
        env.remove(QStringLiteral("FAKE_LLAMA_RECORD"));
        stranger.setProcessEnvironment(env);
        stranger.start(QStringLiteral(FAKE_LLAMA_SERVER), {QStringLiteral("--port"), QString::number(newPort)});
        QVERIFY(stranger.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(listeningProcessIds(newPort), QList<qint64>{stranger.processId()}, kWait);

        tray.openSettings();
        SettingsDialog *dialog = tray.openSettingsDialog();
        dialog->findChildren<QSpinBox *>().first()->setValue(newPort);
        dialog->accept();
        QCOMPARE(tray.questions, 1);

        if (answer) {
            QVERIFY(external->waitForFinished(kWait));   // the adopted server was ended
            QCOMPARE(stranger.state(), QProcess::Running);   // the stranger was not
        } else {
            // The online poll still reaches the adopted server, which stays Online.
            QTRY_VERIFY_WITH_TIMEOUT((externalOutput += external->readAll())
                                         .count("fake llama-server: request (ok)") >= 2, 25000);
            QCOMPARE(tray.serviceState(), ServiceState::Online);
            QCOMPARE(tray.statusText(), QStringLiteral("● Online http://127.0.0.1:%1/v1").arg(oldPort));
            QCOMPARE(stranger.state(), QProcess::Running);
        }
        stranger.kill();
        stranger.waitForFinished();
    }

    void languageChangeRelabelsWithoutBalloon()
    {
        QVERIFY(QFile::remove(models->path() + QStringLiteral("/qwen-Q4_K_M.gguf")));
        TestTray tray;
        QCOMPARE(tray.serviceState(), ServiceState::Error);
        QSignalSpy balloons(&tray, &TrayApp::balloonShown);
        QMenu *menu = tray.trayMenu();
        QVERIFY(actionWithText(menu, QStringLiteral("Start Service")));

        QAction *german = nullptr;
        QMenu *languages = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->menu())
                languages = action->menu();
        }
        QVERIFY(languages);
        for (QAction *action : languages->actions()) {
            QVERIFY(action->isChecked() == (action->data().toString() == QLatin1String("en")));
            if (action->data().toString() == QLatin1String("de"))
                german = action;
        }
        QVERIFY(german);
        german->trigger();

        QCOMPARE(currentLanguageCode(), QStringLiteral("de"));
        QVERIFY(german->isChecked());
        QVERIFY(actionWithText(menu, QStringLiteral("Dienst starten")));
        QVERIFY(!actionWithText(menu, QStringLiteral("Start Service")));
        QCOMPARE(languages->title(), QStringLiteral("Sprache"));
        QCOMPARE(tray.serviceState(), ServiceState::Error);
        QCOMPARE(tray.statusText(), QStringLiteral("● Kein GGUF im Modellverzeichnis gefunden"));
        QCOMPARE(balloons.size(), 0);
        setLanguage(QStringLiteral("en"));
    }

    // The line on standard error speaks the terminal's language, whatever the tray speaks.
    void terminalReportInTheLocaleLanguage_data()
    {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QString>("trayLanguage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("German terminal, Chinese tray")
            << QByteArray("de_DE.UTF-8") << "zh_CN" << "state: Error: Serverprozess beendet";
        QTest::newRow("C locale: English") << QByteArray("C.UTF-8") << "de" << "state: Error: Server process exited";
        QTest::newRow("Chinese terminal") << QByteArray("zh_CN.UTF-8") << "en" << QStringLiteral("state: Error: 服务进程退出");
    }
    void terminalReportInTheLocaleLanguage()
    {
        QFETCH(QByteArray, lang);
        QFETCH(QString, trayLanguage);
        QFETCH(QString, expected);
        const QByteArray old = qgetenv("LANG");
        const auto restore = qScopeGuard([&] {
            qputenv("LANG", old);
            setLanguage(QStringLiteral("zh_CN"));
        });
        qputenv("LANG", lang);
        setLanguage(trayLanguage);
        QCOMPARE(stateReport(ServiceState::Error, QStringLiteral("服务进程退出"), QString()), expected);
        QCOMPARE(stateReport(ServiceState::Online, QString(), QString()), QStringLiteral("state: Online"));
    }

    void autostartEntryFollowsTheMenu()
    {
        QVERIFY(setAutostartFor(true, QStringLiteral("/opt/Brindlehost")));
        TestTray tray;
        QAction *autostart = actionWithText(tray.trayMenu(), QStringLiteral("Start with System"));
        QVERIFY(autostart);
        QVERIFY(autostart->isCheckable());
        QVERIFY(autostart->isChecked());
        autostart->trigger();
        QVERIFY(!autostartEnabled());
        autostart->trigger();
        QVERIFY(autostartEnabled());
        QFile entry(autostartEntryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains(
            "Exec=\"" + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toUtf8() + "\"\n"));
    }

private:
    void makeFile(const QString &name, qint64 size)
    {
        QFile file(models->path() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
    }

    void startExternalServer()
    {
        external = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAKE_LLAMA_DELAY_MS"), QStringLiteral("0"));
        env.remove(QStringLiteral("FAKE_LLAMA_RECORD"));
        external->setProcessEnvironment(env);
        external->setProcessChannelMode(QProcess::MergedChannels);
        external->start(QStringLiteral(FAKE_LLAMA_SERVER), {QStringLiteral("--port"), QString::number(settings.port)});
        QVERIFY(external->waitForStarted());
        externalOutput.clear();
        QTRY_VERIFY_WITH_TIMEOUT((externalOutput += external->readAll()).contains("listening"), kWait);
    }

    std::unique_ptr<QTemporaryDir> models;
    std::unique_ptr<QProcess> external;
    QByteArray externalOutput;
    qint64 leftoverPid = 0;
    ServiceSettings settings;
    QString record;
};

BRINDLE_TEST_MAIN(TestTrayApp)
#include "tst_trayapp.moc"
