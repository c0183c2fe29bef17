#include "ui/filemanager.h"

#include "testmain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <optional>

// Stands in for the desktop's file manager on a private bus.
class FakeFileManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    bool refuse = false;
    QStringList uris;
    QString startupId;
    int calls = 0;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        ++calls;
        this->uris = uris;
        this->startupId = startupId;
        if (refuse)
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show items"));
    }
};

// Takes the place of the desktop's URL opener for file URLs.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public Q_SLOTS:
    void openUrl(const QUrl &url) { urls << url; }
};

class TestFileManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void noBusOpensTheFolder();
    void privateBus_data();
    void privateBus();
    void sessionBusIsAsked();

private:
    std::optional<FileManagerOutcome> run(const QString &path, const QDBusConnection &bus);

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    UrlCatcher m_catcher;
    QString m_image;
};

void TestFileManager::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "openUrl");
    QDir(m_dir.path()).mkpath(QStringLiteral("my pictures"));
    m_image = m_dir.filePath(QStringLiteral("my pictures/straße 1.jpg"));

    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        return;   // the tests that need a bus skip
    // A bus of our own that starts no services: no real file manager may come up.
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)").arg(m_dir.path()).toUtf8());
    file.close();
    m_daemon.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                            QStringLiteral("--print-address=1")});
    QVERIFY(m_daemon.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void TestFileManager::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

void TestFileManager::init()
{
    m_catcher.urls.clear();
}

std::optional<FileManagerOutcome> TestFileManager::run(const QString &path, const QDBusConnection &bus)
{
    std::optional<FileManagerOutcome> outcome;
    showInFileManager(path, bus, [&outcome](FileManagerOutcome o) { outcome = o; });
    // Empty when no answer came: the caller's comparison fails then.
    (void)QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 10000);
    return outcome;
}

void TestFileManager::noBusOpensTheFolder()
{
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("no-such-socket")), QStringLiteral("none"));
    QVERIFY(!none.isConnected());
    std::optional<FileManagerOutcome> outcome;
    showInFileManager(m_image, none, [&outcome](FileManagerOutcome o) { outcome = o; });
    // Decided at once, without waiting for anything.
    QCOMPARE(outcome, std::optional<FileManagerOutcome>(FileManagerOutcome::FolderOpened));
    QCOMPARE(m_catcher.urls, QList<QUrl>{QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("my pictures")))});
}

void TestFileManager::privateBus_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<int>("outcome");
    QTest::newRow("the file manager shows the file") << true << false << int(FileManagerOutcome::Selected);
    QTest::newRow("the file manager answers with an error") << true << true << int(FileManagerOutcome::FolderOpened);
    QTest::newRow("no file manager on the bus") << false << false << int(FileManagerOutcome::FolderOpened);
}

void TestFileManager::privateBus()
{
    if (m_address.isEmpty())
        QSKIP("dbus-daemon is not installed");
    QFETCH(bool, registered);
    QFETCH(bool, refuse);
    QFETCH(int, outcome);

    const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(12).replace(QLatin1Char(' '), QLatin1Char('_'));
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service-") + tag);
    QDBusConnection client = QDBusConnection::connectToBus(m_address, QStringLiteral("client-") + tag);
    QVERIFY(service.isConnected());
    QVERIFY(client.isConnected());
    FakeFileManager fake;
    fake.refuse = refuse;
    if (registered) {
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }

    QCOMPARE(run(m_image, client), std::optional<FileManagerOutcome>(FileManagerOutcome(outcome)));
    if (registered) {
        QCOMPARE(fake.calls, 1);
        QCOMPARE(fake.uris, QStringList{QUrl::fromLocalFile(m_image).toString(QUrl::FullyEncoded)});
        QVERIFY(fake.uris.first().contains(QStringLiteral("my%20pictures/stra%C3%9Fe%201.jpg")));
        QCOMPARE(fake.startupId, QString());
    }
    const QList<QUrl> folder{QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("my pictures")))};
    QCOMPARE(m_catcher.urls, outcome == int(FileManagerOutcome::Selected) ? QList<QUrl>{} : folder);

    if (registered) {
        service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("service-") + tag);
    QDBusConnection::disconnectFromBus(QStringLiteral("client-") + tag);
}

void TestFileManager::sessionBusIsAsked()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    QSKIP("the desktop's own file browser is started directly here");
#endif
    if (m_address.isEmpty())
        QSKIP("dbus-daemon is not installed");
    // The program's entry point goes through the session bus, which is this private one here.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service-session"));
    FakeFileManager fake;
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    std::optional<FileManagerOutcome> outcome;
    showInFileManager(m_image, [&outcome](FileManagerOutcome o) { outcome = o; });
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 10000);
    QCOMPARE(*outcome, FileManagerOutcome::Selected);
    QCOMPARE(fake.calls, 1);
    QVERIFY(m_catcher.urls.isEmpty());
    QDBusConnection::disconnectFromBus(QStringLiteral("service-session"));
}

BRINDLE_TEST_MAIN(TestFileManager)
#include "tst_filemanager.moc"
