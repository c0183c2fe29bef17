#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "shared/language.h"
#include "storage/annotationjson.h"
#include "storage/directoryloader.h"
#include "storage/pendingfile.h"

#include <QFileInfo>
#include <QJsonArray>

int runPendingCommand(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return Cli::usage(QStringLiteral("pending DIR"));
    if (!QFileInfo(args.first()).isDir()) {
        Cli::printError(translateText("不是目录：%1").arg(args.first()));
        return Cli::ItemFailed;
    }
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(args.first(), &complete);
    if (complete && Cli::reportNoImages(folders, args.first()))
        return Cli::UsageError;
    int status = complete ? Cli::Ok : Cli::ItemFailed;
    // Each image folder keeps its own pending file.
    for (const Cli::ImageFolder &folder : folders) {
        bool readable = true;
        const AnnotationCache pending = readPendingFile(folder.dir, &readable);
        if (!readable) {
            Cli::printError(translateText("无法读取 %1").arg(pendingFilePath(folder.dir)));
            status = Cli::ItemFailed;
            continue;
        }
        QStringList images = pending.keys();
        DirectoryLoader::sortPaths(images);
        for (const QString &image : std::as_const(images)) {
            QJsonArray annotations;
            for (const Annotation &a : pending.value(image))
                annotations.append(annotationToJson(a));
            Cli::printJson(
                QJsonObject{{QStringLiteral("image"), image}, {QStringLiteral("annotations"), annotations}});
        }
    }
    return status;
}
