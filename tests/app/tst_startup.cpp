#include "app/startup.h"
#include "shared/localinstance.h"
#include "ui/mainwindow.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kBinDir = QStringLiteral(BRINDLE_BINARY_DIR "/bin");

// What a killed instance leaves behind: a socket file nobody listens on.
bool makeStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    qstrncpy(addr.sun_path, bytes.constData(), sizeof(addr.sun_path));
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return ok && QFileInfo::exists(path);
}

// A stand-in companion that proves it was started by writing a marker file.
QString writeFakeCompanion(const QString &dir, const QString &marker)
{
    const QString path = dir + QLatin1Char('/') + companionFileName();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    // Written aside and renamed, so that the marker never exists half-written.
    const QByteArray target = QFile::encodeName(marker);
    file.write("#!/bin/sh\necho started \"$PWD\" \"$@\" > '" + target + ".part' && mv '" + target + ".part' '" + target
               + "'\n");
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);
    return path;
}

// A copy of the program alone in a directory, so that it starts no companion.
QString isolatedProgram(const QTemporaryDir &dir)
{
    const QString program = dir.filePath(QStringLiteral("Brindlemark"));
    if (!QFileInfo::exists(program))
        QFile::copy(kBinDir + QStringLiteral("/Brindlemark"), program);
    return program;
}

void stopProcess(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QLocalServer::removeServer(localServerPath(QLatin1String(kBrindlemarkServerName)));
        QLocalServer::removeServer(localServerPath(QLatin1String(kBrindlehostServerName)));
    }

    void socketsLiveInRuntimeDirectory()
    {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QCOMPARE(localServerPath(QStringLiteral("Brindlemark-singleton")), runtime + QStringLiteral("/Brindlemark-singleton"));
    }

    void secondStartSendsShow_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no path") << QString() << QByteArray("show");
        QTest::newRow("a folder, made absolute") << "ds" << "show\n" + QDir::currentPath().toUtf8() + "/ds";
        QTest::newRow("a folder ending in a blank, sent as it is")
            << " photos " << "show\n" + QDir::currentPath().toUtf8() + "/ photos ";
    }
    void secondStartSendsShow()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, message);
        QLocalServer server;
        QVERIFY(server.listen(localServerPath(QLatin1String(kBrindlemarkServerName))));
        QVERIFY(askRunningInstanceToShow(path));
        QVERIFY(server.waitForNewConnection(1000));
        QLocalSocket *socket = server.nextPendingConnection();
        QTRY_COMPARE(socket->bytesAvailable(), qint64(message.size()));
        QCOMPARE(socket->readAll(), message);
    }

    void noRunningInstance()
    {
        QVERIFY(!askRunningInstanceToShow());
    }

    void staleSocketDoesNotBlockFirstInstance()
    {
        const QString path = localServerPath(QLatin1String(kBrindlemarkServerName));
        QVERIFY(makeStaleSocket(path));
        QVERIFY(!askRunningInstanceToShow());
        QLocalServer *server = listenAsFirstInstance(this);
        QVERIFY(server->isListening());
        QVERIFY(localServerAnswers(QLatin1String(kBrindlemarkServerName), 400));
        delete server;
    }

    void activationRestoresWindow_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("opens");   // the folder sent after "show" is opened, exactly as sent
        QTest::addColumn<bool>("dropped"); // the connection is dropped before the client hangs up
        QTest::newRow("show") << QByteArray("show") << false << false;
        QTest::newRow("nothing") << QByteArray() << false << false;
        QTest::newRow("other bytes") << QByteArray("hello there") << false << false;
        QTest::newRow("show and a folder") << QByteArray("show\n%DIR%") << true << false;
        QTest::newRow("show and a folder ending in a blank") << QByteArray("show\n%DIR%/photos ") << true << false;
        QTest::newRow("a megabyte past the limit") << "show\n%DIR%/" + QByteArray(1 << 20, 'a') << false << true;
    }
    void activationRestoresWindow()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, opens);
        QFETCH(bool, dropped);
        QTemporaryDir folder;
        message.replace("%DIR%", QFile::encodeName(folder.path()));
        if (opens)
            QVERIFY(QDir().mkpath(QString::fromUtf8(message.mid(5))));
        MainWindow window(QString{});
        window.showMinimized();
        QVERIFY(window.windowState() & Qt::WindowMinimized);

        QLocalServer *server = listenAsFirstInstance(this);
        connect(server, &QLocalServer::newConnection, this, [server] { handleActivation(server); });
        QLocalSocket client;
        client.connectToServer(localServerPath(QLatin1String(kBrindlemarkServerName)));
        QVERIFY(client.waitForConnected(1000));
        if (!message.isEmpty()) {
            client.write(message);
            client.flush();
        }
        QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
        QVERIFY(window.isVisible());
        if (dropped)
            QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
        client.disconnectFromServer();
        if (opens)
            QTRY_COMPARE(window.currentDirectory(), QString::fromUtf8(message.mid(5)));
        else
            QVERIFY(window.currentDirectory().isEmpty());
        delete server;
    }

    void companionStart_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<bool>("expectStarted");
        QTest::newRow("silent socket") << true << false << true;
        QTest::newRow("already running") << true << true << false;
        QTest::newRow("no companion file") << false << false << false;
    }
    void companionStart()
    {
        QFETCH(bool, present);
        QFETCH(bool, answering);
        QFETCH(bool, expectStarted);
        QTemporaryDir appDir;
        const QString marker = appDir.filePath(QStringLiteral("marker"));
        if (present)
            QVERIFY(!writeFakeCompanion(appDir.path(), marker).isEmpty());
        QLocalServer running;
        if (answering)
            QVERIFY(running.listen(localServerPath(QLatin1String(kBrindlehostServerName))));

        QCOMPARE(startCompanionIfNeeded(appDir.path()), expectStarted);
        if (expectStarted) {
            QTRY_VERIFY(QFileInfo::exists(marker));
            QFile file(marker);
            QVERIFY(file.open(QIODevice::ReadOnly));
            // It is told whose window started it, to stop with it where no tray can outlive it.
            QCOMPARE(file.readAll().trimmed(), "started " + QFile::encodeName(appDir.path()) + " --window-pid "
                                                   + QByteArray::number(QCoreApplication::applicationPid()));
        } else {
            QVERIFY(!QFileInfo::exists(marker));
        }
    }

    // The real programs, started as processes.
    void secondProcessExitsQuickly()
    {
        QTemporaryDir dir;
        const QString program = isolatedProgram(dir);
        QProcess first;
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(localServerAnswers(QLatin1String(kBrindlemarkServerName), 200), 10000);

        QProcess second;
        QElapsedTimer timer;
        timer.start();
        second.start(program, {});
        QVERIFY(second.waitForFinished(5000));
        qInfo("second instance exited after %lld ms", timer.elapsed());
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        stopProcess(first);
    }

    void staleSocketProcess()
    {
        QVERIFY(makeStaleSocket(localServerPath(QLatin1String(kBrindlemarkServerName))));
        QTemporaryDir dir;
        const QString program = isolatedProgram(dir);
        QProcess first;
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(localServerAnswers(QLatin1String(kBrindlemarkServerName), 200), 10000);
        QCOMPARE(first.state(), QProcess::Running);
        stopProcess(first);
    }

    void companionStartedNextToProgram()
    {
        // A copy of the program in a directory of its own, with a fake companion beside it.
        QTemporaryDir appDir;
        const QString program = isolatedProgram(appDir);
        const QString marker = appDir.filePath(QStringLiteral("marker"));
        QVERIFY(!writeFakeCompanion(appDir.path(), marker).isEmpty());

        QProcess process;
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
        stopProcess(process);
    }

    void secondBrindlehostExitsAtOnce()
    {
        QProcess first;
        first.start(kBinDir + QStringLiteral("/Brindlehost"), {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(localServerAnswers(QLatin1String(kBrindlehostServerName), 200), 10000);

        QProcess second;
        second.start(kBinDir + QStringLiteral("/Brindlehost"), {});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        stopProcess(first);
    }
};

BRINDLE_WINDOW_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
