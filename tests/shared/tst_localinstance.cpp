#include "shared/localinstance.h"
#include "testmain.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

// The single-instance socket when the runtime directory is missing or not ours: another local
// user who made a folder or a socket first must never receive our paths.
class TestLocalInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void withoutRuntimeDirectory_data();
    void withoutRuntimeDirectory();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QByteArray m_runtime;
    QByteArray m_tmpdir;
};

namespace {

const QString kName = QStringLiteral("Test-singleton");
const uid_t kOtherUser = 65534;

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace

void TestLocalInstance::init()
{
    m_runtime = qgetenv("XDG_RUNTIME_DIR");
    m_tmpdir = qgetenv("TMPDIR");
    m_tmp = std::make_unique<QTemporaryDir>();
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(m_tmp->path()));
}

void TestLocalInstance::cleanup()
{
    qputenv("XDG_RUNTIME_DIR", m_runtime);
    if (m_tmpdir.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", m_tmpdir);
    m_tmp.reset();
}

void TestLocalInstance::withoutRuntimeDirectory_data()
{
    // squat: what another user (or a careless umask) left in the shared temporary directory before
    // we start; usable: whether we still get a socket of our own.
    QTest::addColumn<QString>("squat");
    QTest::addColumn<bool>("usable");
    QTest::newRow("nothing there: a folder of ours, 0700") << "" << true;
    QTest::newRow("their socket where a per-user name would go") << "socket" << true;
    QTest::newRow("their folder under our name") << "their folder" << false;
    QTest::newRow("our folder open to everyone") << "open folder" << false;
    QTest::newRow("a link under our name") << "link" << false;
}

void TestLocalInstance::withoutRuntimeDirectory()
{
    QFETCH(QString, squat);
    QFETCH(bool, usable);
    const QString tmp = m_tmp->path();
    const QString ours = tmp + QStringLiteral("/brindlemark-") + QString::number(::getuid());
    // Qt's own fallback folder, taken by another user: Qt refuses it, we are on our own.
    const QString qtFallback = tmp + QStringLiteral("/runtime-") + qEnvironmentVariable("USER", "root");
    QVERIFY(QDir().mkpath(qtFallback));
    if (::getuid() != 0 || ::chown(QFile::encodeName(qtFallback).constData(), kOtherUser, kOtherUser) != 0)
        QSKIP("needs root to make files of another user");

    // The other user's server listens wherever it could guess our socket.
    QLocalServer theirs;
    QStringList guessed{tmp + QLatin1Char('/') + kName + QLatin1Char('-') + QString::number(::getuid())};
    if (squat == u"their folder" || squat == u"open folder") {
        QVERIFY(QDir().mkpath(ours));
        QVERIFY(::chmod(QFile::encodeName(ours).constData(), 0777) == 0);
        if (squat == u"their folder")
            QVERIFY(::chown(QFile::encodeName(ours).constData(), kOtherUser, kOtherUser) == 0);
        guessed = {ours + QLatin1Char('/') + kName};
    } else if (squat == u"link") {
        QVERIFY(QDir().mkpath(tmp + QStringLiteral("/theirs")));
        QVERIFY(::chmod(QFile::encodeName(tmp + QStringLiteral("/theirs")).constData(), 0700) == 0);
        QVERIFY(QFile::link(tmp + QStringLiteral("/theirs"), ours));
        guessed = {ours + QLatin1Char('/') + kName};
    }
    if (!squat.isEmpty())
        QVERIFY2(theirs.listen(guessed.first()), qPrintable(theirs.errorString()));

    // A second start never reaches their server.
    QVERIFY(!localServerAnswers(kName, 500));
    const QString path = localServerPath(kName);
    QCOMPARE(!path.isEmpty(), usable);
    QLocalServer *server = listenLocalServer(kName, this);
    QCOMPARE(server->isListening(), usable);
    if (usable) {
        QCOMPARE(QFileInfo(path).absolutePath(), ours);
        QCOMPARE(modeOf(ours), mode_t(0700));
        QVERIFY(localServerAnswers(kName, 2000));
    }
    delete server;
}

BRINDLE_TEST_MAIN(TestLocalInstance)
#include "tst_localinstance.moc"
