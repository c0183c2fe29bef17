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
    QStringList unlistable;
    for (const QString &path : DirectoryLoader::listImages(dir, &unlistable))
        Cli::printLine(path);
    Cli::reportUnlistable(unlistable);
    return unlistable.isEmpty() ? Cli::Ok : Cli::ItemFailed;
}
