#include "host/hostinstance.h"
#include "host/quitsignals.h"
#include "host/trayapp.h"
#include "host/windowwatch.h"
#include "shared/language.h"
#include "shared/languagefont.h"
#include "shared/theme.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Brindlemark"));
    QApplication::setApplicationName(QStringLiteral("Brindlehost"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    QApplication::setQuitOnLastWindowClosed(false);

    setSettingsScope(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    initLanguage();
    installStyleSheet(QStringLiteral(":/style.qss"));

    if (brindlehostAlreadyRunning())
        return 0;
    listenAsBrindlehost(&app);

    TrayApp tray;
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &tray, &TrayApp::quit);
    WindowWatch window(WindowWatch::pidFromArguments(app.arguments()));
    QObject::connect(&window, &WindowWatch::windowGone, &tray, &TrayApp::quit);
    return app.exec();
}
