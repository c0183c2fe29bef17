#include "tools/cli/cliio.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace Cli {

namespace {

void writeOut(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void printLine(const QString &line)
{
    writeOut(stdout, line.toUtf8() + '\n');
}

void printJson(const QJsonObject &object)
{
    writeOut(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void printError(const QString &message)
{
    writeOut(stderr, "brindlemark-cli: " + message.toUtf8() + '\n');
}

int usage(const QString &usage)
{
    writeOut(stderr, "usage: brindlemark-cli " + usage.toUtf8() + '\n');
    return UsageError;
}

bool readStandardInput(QByteArray *bytes)
{
    bytes->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes->append(buffer, qsizetype(n));
    }
}

QString absolutePath(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace Cli
