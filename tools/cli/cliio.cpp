#include "tools/cli/cliio.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

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

QString absolutePath(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace Cli
