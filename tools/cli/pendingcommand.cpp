#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/annotationjson.h"
#include "storage/directoryloader.h"
#include "storage/pendingfile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

int runPendingCommand(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return Cli::usage(QStringLiteral("pending DIR"));
    if (!QFileInfo(args.first()).isDir()) {
        Cli::printError(QStringLiteral("not a directory: ") + args.first());
        return Cli::ItemFailed;
    }
    bool readable = true;
    const QString dir = QDir(args.first()).absolutePath();
    const AnnotationCache pending = readPendingFile(dir, &readable);
    if (!readable) {
        Cli::printError(QStringLiteral("cannot read ") + pendingFilePath(dir));
        return Cli::ItemFailed;
    }
    QStringList images = pending.keys();
    DirectoryLoader::sortPaths(images);
    for (const QString &image : std::as_const(images)) {
        QJsonArray annotations;
        for (const Annotation &a : pending.value(image))
            annotations.append(annotationToJson(a));
        Cli::printJson(QJsonObject{{QStringLiteral("image"), image}, {QStringLiteral("annotations"), annotations}});
    }
    return Cli::Ok;
}
