#include "ui/filemanager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <utility>

namespace {

// A file manager that the bus starts on demand may take a few seconds to answer.
constexpr int ShowItemsTimeoutMs = 8000;

void openContainingFolder(const QString &path, const std::function<void(FileManagerOutcome)> &done)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    if (done)
        done(FileManagerOutcome::FolderOpened);
}

} // namespace

void showInFileManager(const QString &path, std::function<void(FileManagerOutcome)> done)
{
#if defined(Q_OS_WIN)
    if (QProcess::startDetached(QStringLiteral("explorer.exe"),
                                {QStringLiteral("/select,"), QDir::toNativeSeparators(path)})) {
        if (done)
            done(FileManagerOutcome::Selected);
        return;
    }
    openContainingFolder(path, done);
#elif defined(Q_OS_MACOS)
    if (QProcess::startDetached(QStringLiteral("open"), {QStringLiteral("-R"), path})) {
        if (done)
            done(FileManagerOutcome::Selected);
        return;
    }
    openContainingFolder(path, done);
#else
    showInFileManager(path, QDBusConnection::sessionBus(), std::move(done));
#endif
}

void showInFileManager(const QString &path, const QDBusConnection &bus,
                       std::function<void(FileManagerOutcome)> done)
{
    if (!bus.isConnected()) {
        openContainingFolder(path, done);
        return;
    }
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    call << QStringList{uri} << QString();

    // Asynchronous: the window stays responsive while a file manager starts.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, ShowItemsTimeoutMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path, done = std::move(done)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         if (finished->isError())
                             openContainingFolder(path, done);
                         else if (done)
                             done(FileManagerOutcome::Selected);
                     });
}
