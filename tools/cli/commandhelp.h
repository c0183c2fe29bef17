#pragma once

#include <QString>

// "brindlemark-cli COMMAND --help": the command's usage line, what it does and its options, in the
// language of the locale. Empty for a command without help.
QString commandHelp(const QString &command);
// The command's usage line ("list DIR"), never translated: it is what the user types.
QString commandUsage(const QString &command);
// True when args ask for help: "-h" or "--help" before any "--".
bool asksForHelp(const QStringList &args);
