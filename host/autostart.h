#pragma once

#include <QString>

// Start with the desktop session: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/Brindlehost.desktop) whose Exec is the quoted executable path.

QString autostartEntryPath();
bool autostartEnabled();

// Writes or removes the entry for the running executable. Failures are not reported.
void setAutostart(bool on);

// Same, for a given executable; false when the entry could not be written or removed.
bool setAutostartFor(bool on, const QString &executablePath);

// The Exec value for a path: double-quoted, with the desktop-entry escapes applied.
QString autostartExecValue(const QString &executablePath);
