#pragma once

#include <QByteArray>
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
// All of standard input; false when it cannot be read (closed, a directory, an I/O error).
bool readStandardInput(QByteArray *bytes);
// Absolute path with "/" separators, as the directory listing gives it.
QString absolutePath(const QString &path);

} // namespace Cli
