#include "host/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/Brindlehost.desktop");
}

bool autostartEnabled()
{
    return QFileInfo::exists(autostartEntryPath());
}

QString autostartExecValue(const QString &executablePath)
{
    // Inside a quoted Exec argument ", `, $ and \ take a backslash; the value itself is a desktop
    // string, where every backslash is doubled again, and a literal % is written %%.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QLatin1String("\\\\");
        else if (c == QLatin1Char('\\'))
            quoted += QLatin1String("\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool setAutostartFor(bool on, const QString &executablePath)
{
    const QString path = autostartEntryPath();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);

    // A line break in the path would end the Exec line and inject keys.
    if (executablePath.contains(QLatin1Char('\n')) || executablePath.contains(QLatin1Char('\r')))
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Brindlehost\n"
                                         "Exec=%1\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(autostartExecValue(executablePath));
    file.write(entry.toUtf8());
    return file.commit();
}

void setAutostart(bool on)
{
    setAutostartFor(on, QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
}
