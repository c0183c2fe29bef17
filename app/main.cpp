#include "app/startup.h"
#include "shared/language.h"
#include "shared/languagefont.h"
#include "shared/theme.h"
#include "storage/imagescaling.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocalServer>

#include <fontconfig/fontconfig.h>

#include <thread>

int main(int argc, char *argv[])
{
    // The font configuration is read while Qt connects to the display, not when the first text
    // is measured; Qt's own FcInit then finds it done.
    std::thread fontConfig([] { FcInit(); });
    QApplication app(argc, argv);
    // Before any thread decodes: photos of a few hundred megapixels open at full resolution.
    raiseImageAllocationLimit(4096);
    QApplication::setOrganizationName(QStringLiteral("Brindlemark"));
    QApplication::setApplicationName(QStringLiteral("Brindlemark"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));

    const QString initialPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (askRunningInstanceToShow(initialPath)) {
        fontConfig.join();
        return 0;
    }
    QLocalServer *server = listenAsFirstInstance(&app);

    initLanguage();
    installStyleSheet(QStringLiteral(":/theme/style.qss"));
    installDarkPalette();

    MainWindow window(initialPath);
    window.show();
    // Neither is needed for the first image: they wait until it is painted.
    window.whenLaunched([] {
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.ico")));
        startCompanionIfNeeded(QApplication::applicationDirPath());
    });

    QObject::connect(server, &QLocalServer::newConnection, &app, [server] { handleActivation(server); });
    const int code = app.exec();
    fontConfig.join();
    return code;
}
