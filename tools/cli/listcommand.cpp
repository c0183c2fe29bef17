#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "shared/language.h"

#include <QFileInfo>

int runListCommand(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return Cli::usage(QStringLiteral("list DIR"));
    const QString dir = args.first();
    if (!QFileInfo(dir).isDir()) {
        Cli::printError(translateText("不是目录：%1").arg(dir));
        return Cli::ItemFailed;
    }
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(dir, &complete);
    if (complete && Cli::reportNoImages(folders, dir))
        return Cli::UsageError;
    for (const QString &path : Cli::imagesOf(folders))
        Cli::printLine(path);
    return complete ? Cli::Ok : Cli::ItemFailed;
}
