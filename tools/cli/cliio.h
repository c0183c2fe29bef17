#pragma once

#include <QJsonObject>
#include <QString>

// Output of the command-line tool: JSON Lines and plain lines on stdout, messages on stderr.
namespace Cli {

enum ExitCode { Ok = 0, ItemFailed = 1, UsageError = 2 };

void printLine(const QString &line);
void printJson(const QJsonObject &object);
void printError(const QString &message);
// Prints "usage: brindlemark-cli <usage>" on stderr and returns UsageError.
int usage(const QString &usage);
// Absolute path with "/" separators, as the directory listing gives it.
QString absolutePath(const QString &path);

} // namespace Cli
