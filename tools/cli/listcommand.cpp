#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/directoryloader.h"

#include <QFileInfo>

int runListCommand(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return Cli::usage(QStringLiteral("list DIR"));
    const QString dir = args.first();
    if (!QFileInfo(dir).isDir()) {
        Cli::printError(QStringLiteral("not a directory: ") + dir);
        return Cli::ItemFailed;
    }
    QStringList undecodable;
    for (const QString &path : DirectoryLoader::listImages(dir, &undecodable))
        Cli::printLine(path);
    // No path would open them: named on standard error, with the bytes that are not UTF-8 escaped.
    for (const QString &path : std::as_const(undecodable))
        Cli::printError(path + QStringLiteral(": file name is not valid UTF-8, rename it"));
    return undecodable.isEmpty() ? Cli::Ok : Cli::ItemFailed;
}
