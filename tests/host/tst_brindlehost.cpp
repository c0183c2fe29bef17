#include "hosttestutil.h"
#include "testmain.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QElapsedTimer>

#include <csignal>
#include <memory>

namespace {

bool copyExecutable(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return QFile::copy(from, to)
        && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList stateLines(const QByteArray &stderrText)
{
    QStringList lines;
    for (const QByteArray &line : stderrText.split('\n')) {
        if (line.startsWith("state: "))
            lines << QString::fromUtf8(line);
    }
    return lines;
}

constexpr int kWait = 20000;

// The process group of a process (field 5 of /proc/PID/stat); -1 when it is gone.
qint64 processGroup(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 2 ? fields.at(2).toLongLong() : -1;
}

// Processes of a group that are neither its first process nor the one named.
QList<qint64> othersInGroup(qint64 group, qint64 except)
{
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && pid != group && pid != except && !processGone(pid) && processGroup(pid) == group)
            found << pid;
    }
    return found;
}

} // namespace

// Runs the real program from a portable installation: bin/Brindlehost, tools/llama/llama-server
// (the fake) and models/.
class TestBrindlehost : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(install.isValid());
        hostExe = install.path() + QStringLiteral("/bin/Brindlehost");
        QVERIFY(copyExecutable(QStringLiteral(BRINDLEHOST_EXE), hostExe));
        QVERIFY(copyExecutable(QStringLiteral(FAKE_LLAMA_SERVER), install.path() + QStringLiteral("/tools/llama/llama-server")));
        QDir().mkpath(install.path() + QStringLiteral("/models"));
        QFile model(install.path() + QStringLiteral("/models/qwen-Q4_K_M.gguf"));
        QVERIFY(model.open(QIODevice::WriteOnly) && model.resize(1LL << 30));
        model.close();

        port = freePort();
        QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost")).setValue(QStringLiteral("port"), port);
        record = install.path() + QStringLiteral("/args.txt");
        qputenv("FAKE_LLAMA_RECORD", record.toUtf8());
        qputenv("FAKE_LLAMA_DELAY_MS", "200");

        first = std::make_unique<QProcess>();
        first->start(hostExe, {});
        QVERIFY(first->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((firstErr += first->readAllStandardError()).contains("state: Online\n"), kWait);
    }

    void cleanupTestCase()
    {
        if (first && first->state() != QProcess::NotRunning) {
            first->kill();
            first->waitForFinished();
        }
        if (serverPid > 0 && !processGone(serverPid))
            ::kill(pid_t(serverPid), SIGKILL);   // only after a failure above
    }

    void reportsEachStateOnce()
    {
        QCOMPARE(stateLines(firstErr),
                 (QStringList{"state: Stopped", "state: Starting", "state: Online"}));
    }

    void findsServerAndModelsOfTheInstallation()
    {
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList args = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        serverPid = args.value(0).toLongLong();
        QVERIFY(serverPid > 0);
        QCOMPARE(args.mid(1, 6), (QStringList{"-m", install.path() + "/models/qwen-Q4_K_M.gguf",
                                              "--host", "127.0.0.1", "--port", QString::number(port)}));
        QVERIFY(!args.contains(QStringLiteral("--mmproj")));
        QVERIFY(!args.contains(QStringLiteral("-t")));
        QCOMPARE(args.last(), QStringLiteral("qwen"));

        QFile log(install.path() + QStringLiteral("/models/server.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readLine().startsWith("=== Brindlehost server start "));
    }

    // Every start of Brindlemark asks whether Brindlehost runs; weeks of such questions must not
    // make the running copy look absent, or a second copy would start and take over the name.
    void answersEveryProbe()
    {
        const QString name = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/Brindlehost-singleton");
        for (int i = 0; i < 120; ++i) {
            QLocalSocket probe;
            probe.connectToServer(name);
            QVERIFY2(probe.waitForConnected(1000), qPrintable(QString::number(i)));
        }
    }

    void secondInstanceExitsAtOnce()
    {
        QProcess second;
        second.start(hostExe, {});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(stateLines(second.readAllStandardError()).isEmpty());   // it built no tray
        QCOMPARE(first->state(), QProcess::Running);
    }

    void killedHostTakesItsServerAlong()
    {
        QVERIFY(serverPid > 0);
        QVERIFY(!processGone(serverPid));
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(processGone(serverPid), kWait);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(!socket.waitForConnected(2000));
    }

    // llama-server started by a wrapper script, as many installations do: the script is the
    // process Brindlehost knows, the server its child.
    void wrappedServerEndsWithTheHost_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }

    void wrappedServerEndsWithTheHost()
    {
        QFETCH(int, signalNumber);
        const std::unique_ptr<QProcess> host = startWrappedHost();
        QVERIFY(host);
        const qint64 server = wrappedServerPid();
        QVERIFY(server > 0 && !processGone(server));
        QVERIFY(::kill(pid_t(host->processId()), signalNumber) == 0);
        QVERIFY(host->waitForFinished(kWait));
        if (signalNumber != SIGKILL) {
            // Ended like its Quit entry: a normal exit, the server stopped first.
            QCOMPARE(host->exitStatus(), QProcess::NormalExit);
            QCOMPARE(host->exitCode(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(processGone(server), kWait);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(!socket.waitForConnected(2000));
    }

    // Its watchdog killed too, a server outlives the host; the next start ends it, then starts anew.
    void leftoverServerEndedOnNextStart()
    {
        std::unique_ptr<QProcess> host = startWrappedHost();
        QVERIFY(host);
        const qint64 server = wrappedServerPid();
        QVERIFY(server > 0);
        const qint64 group = processGroup(server);
        QVERIFY(group > 0);
        const QList<qint64> watchdogs = othersInGroup(group, server);
        QCOMPARE(watchdogs.size(), 1);
        QVERIFY(::kill(pid_t(watchdogs.first()), SIGKILL) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(watchdogs.first()), kWait);
        QVERIFY(::kill(pid_t(host->processId()), SIGKILL) == 0);
        QVERIFY(host->waitForFinished(kWait));
        QVERIFY(!processGone(server));   // left to init, as it was before

        host = startWrappedHost();
        QVERIFY(host);
        QVERIFY(processGone(server));
        QVERIFY(wrappedServerPid() != server);
        host->kill();
        host->waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(processGone(wrappedServerPid()), kWait);
    }

    // Started by a window on a desktop without a tray (as here: offscreen), it ends with that
    // window, server and all; started on its own, or for a window that still runs, it stays.
    void stopsWithItsWindowWithoutTray_data()
    {
        QTest::addColumn<bool>("windowEnds");
        QTest::newRow("window closed: host and server end") << true;
        QTest::newRow("window open: host stays") << false;
    }

    void stopsWithItsWindowWithoutTray()
    {
        QFETCH(bool, windowEnds);
        QProcess window;   // stands in for Brindlemark: a process the host can watch
        window.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(window.waitForStarted());
        std::unique_ptr<QProcess> host =
            startWrappedHost({QStringLiteral("--window-pid"), QString::number(window.processId())});
        QVERIFY(host);
        const qint64 server = wrappedServerPid();
        QVERIFY(server > 0 && !processGone(server));
        if (windowEnds) {
            window.kill();
            QVERIFY(window.waitForFinished());
            QVERIFY(host->waitForFinished(kWait));
            QCOMPARE(host->exitStatus(), QProcess::NormalExit);
            QCOMPARE(host->exitCode(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(processGone(server), kWait);
        } else {
            QVERIFY(!host->waitForFinished(2500));   // two and a half checks of the window
            window.kill();
            window.waitForFinished();
            host->kill();
            host->waitForFinished();
            QTRY_VERIFY_WITH_TIMEOUT(processGone(server), kWait);
        }
    }

private:
    // Brindlehost from an installation whose llama-server is a shell script running the fake.
    std::unique_ptr<QProcess> startWrappedHost(const QStringList &arguments = {})
    {
        const QString llama = install.path() + QStringLiteral("/tools/llama/");
        if (!QFileInfo::exists(llama + QStringLiteral("llama-server-real"))) {
            if (!QFile::rename(llama + QStringLiteral("llama-server"), llama + QStringLiteral("llama-server-real")))
                return nullptr;
            QFile script(llama + QStringLiteral("llama-server"));
            if (!script.open(QIODevice::WriteOnly))
                return nullptr;
            script.write("#!/bin/sh\n\"$(dirname \"$0\")/llama-server-real\" \"$@\"\nstatus=$?\nexit $status\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QFile::remove(record);
        auto host = std::make_unique<QProcess>();
        host->start(hostExe, arguments);
        if (!host->waitForStarted())
            return nullptr;
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (!(err += host->readAllStandardError()).contains("state: Online\n")) {
            if (clock.elapsed() > kWait || host->state() == QProcess::NotRunning)
                return nullptr;
            QTest::qWait(50);
        }
        return host;
    }

    qint64 wrappedServerPid() const
    {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong() : 0;
    }

    QTemporaryDir install;
    QString hostExe;
    QString record;
    int port = 0;
    qint64 serverPid = 0;
    std::unique_ptr<QProcess> first;
    QByteArray firstErr;
};

BRINDLE_TEST_MAIN(TestBrindlehost)
#include "tst_brindlehost.moc"
