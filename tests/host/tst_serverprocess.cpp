#include "host/serverprocess.h"
#include "host/servicesettings.h"
#include "hosttestutil.h"
#include "testmain.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <unistd.h>

class TestServerProcess : public QObject
{
    Q_OBJECT
private slots:
    void arguments_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("mmproj");
        QTest::addColumn<QStringList>("expected");
        const QStringList tail{"--jinja", "--no-webui", "--image-min-tokens", "1024",
                               "--reasoning-budget", "0", "--alias", "Qwen3.5-VL-2B"};
        const QStringList common{"--host", "127.0.0.1", "--port", "8123", "-ngl", "33", "-c", "4096"};
        QTest::newRow("automatic threads, no projector")
            << 0 << QString()
            << (QStringList{"-m", "/m/Qwen3.5-VL-2B-Q4_K_M.gguf"} + common + tail);
        QTest::newRow("threads and projector")
            << 8 << "/m/mmproj-Qwen3.5-VL-2B-F16.gguf"
            << (QStringList{"-m", "/m/Qwen3.5-VL-2B-Q4_K_M.gguf", "--mmproj", "/m/mmproj-Qwen3.5-VL-2B-F16.gguf"}
                + common + QStringList{"-t", "8"} + tail);
        QTest::newRow("negative threads count as automatic")
            << -1 << QString() << (QStringList{"-m", "/m/Qwen3.5-VL-2B-Q4_K_M.gguf"} + common + tail);
    }

    void arguments()
    {
        QFETCH(int, threads);
        QFETCH(QString, mmproj);
        QFETCH(QStringList, expected);
        ServiceSettings s;
        s.port = 8123;
        s.gpuLayers = 33;
        s.contextSize = 4096;
        s.threads = threads;
        ModelFiles files{QStringLiteral("/m/Qwen3.5-VL-2B-Q4_K_M.gguf"), mmproj};
        QCOMPARE(serverArguments(s, files), expected);
    }

    void healthUrlUsesPort()
    {
        QCOMPARE(healthUrl(8000), QStringLiteral("http://127.0.0.1:8000/v1/models"));
    }

    void serverProcessRunsDetachedFromTerminal()
    {
        QProcess *process = createServerProcess(this);
        QCOMPARE(process->processChannelMode(), QProcess::MergedChannels);
        process->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; sleep 30")});
        QVERIFY(process->waitForStarted());
        const pid_t pid = pid_t(process->processId());
        QCOMPARE(getsid(pid), pid);   // a session of its own
        QByteArray output;   // standard error arrives on the same channel as standard output
        QTRY_VERIFY((output += process->readAll()).contains("out\n") && output.contains("err\n"));
        process->kill();
        QVERIFY(process->waitForFinished());
        delete process;
    }

    void findsAndEndsThePortOwner()
    {
        const int port = freePort();
        QProcess owner;
        QStringList args{QStringLiteral("--port"), QString::number(port)};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAKE_LLAMA_DELAY_MS"), QStringLiteral("0"));
        owner.setProcessEnvironment(env);
        owner.setProcessChannelMode(QProcess::MergedChannels);
        owner.start(QStringLiteral(FAKE_LLAMA_SERVER), args);
        QVERIFY(owner.waitForStarted());
        QTRY_COMPARE(listeningProcessIds(port), QList<qint64>{owner.processId()});
        QVERIFY(listeningProcessIds(freePort()).isEmpty());

        QCOMPARE(endPortOwners(port), 1);
        QVERIFY(owner.waitForFinished(5000));
        QCOMPARE(owner.exitStatus(), QProcess::CrashExit);   // ended by a signal
        QVERIFY(listeningProcessIds(port).isEmpty());
    }

    void neverEndsItself()
    {
        QTcpServer ownListener;
        QVERIFY(ownListener.listen(QHostAddress::LocalHost, 0));
        const int port = ownListener.serverPort();
        QCOMPARE(listeningProcessIds(port), QList<qint64>{QCoreApplication::applicationPid()});
        QCOMPARE(endPortOwners(port), 0);
    }
};

BRINDLE_TEST_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
