#pragma once

#include <QColor>
#include <QIcon>
#include <QMetaType>
#include <QString>

enum class ServiceState { Stopped = 0, Starting = 1, Online = 2, Error = 3 };
Q_DECLARE_METATYPE(ServiceState)

// "Stopped", "Starting", ...: the untranslated name used on standard error.
QString stateName(ServiceState state);

QColor statusColor(ServiceState state);

// The tray picture: a dark rounded square with a dot in the state's colour.
QIcon makeStatusIcon(const QColor &color);

// The error message shown to the user: the translated detail with its argument filled in, or the
// translation of "错误" when there is no detail.
QString errorMessage(const QString &detail, const QString &argument);

// The menu's status line and the tray tool tip; detail and argument matter only in Error.
QString statusLine(ServiceState state, const QString &detail, const QString &argument, int port);
QString statusToolTip(ServiceState state, const QString &detail, const QString &argument,
                      const QString &modelFileName);

// "state: Online", "state: Error: <detail>": the line written to standard error; the state name is
// for scripts, the detail in the language of the terminal's locale (LANG).
QString stateReport(ServiceState state, const QString &detail, const QString &argument);
