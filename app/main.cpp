#include "app/startup.h"
#include "shared/language.h"
#include "shared/languagefont.h"
#include "shared/theme.h"
#include "storage/imagescaling.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocalServer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Before any thread decodes: photos of a few hundred megapixels open at full resolution.
    raiseImageAllocationLimit(4096);
    QApplication::setOrganizationName(QStringLiteral("Brindlemark"));
    QApplication::setApplicationName(QStringLiteral("Brindlemark"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));

    const QString initialPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (askRunningInstanceToShow(initialPath))
        return 0;
    QLocalServer *server = listenAsFirstInstance(&app);

    initLanguage();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.ico")));
    installStyleSheet(QStringLiteral(":/theme/style.qss"));
    installDarkPalette();

    startCompanionIfNeeded(QApplication::applicationDirPath());

    MainWindow window(initialPath);
    window.show();

    QObject::connect(server, &QLocalServer::newConnection, &app, [server] { handleActivation(server); });
    return app.exec();
}
