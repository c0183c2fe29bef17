#include "hosttestutil.h"
#include "testmain.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>

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

private:
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
