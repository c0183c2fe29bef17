#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/annotationjson.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"

#include <QFileInfo>
#include <QJsonArray>

int runShowCommand(const QStringList &args)
{
    if (args.isEmpty())
        return Cli::usage(QStringLiteral("show IMAGE..."));
    int status = Cli::Ok;
    for (const QString &arg : args) {
        const QString image = Cli::absolutePath(arg);
        if (!QFileInfo(image).isFile()) {
            const QString undecodable = DirectoryLoader::undecodableEntry(image);
            if (undecodable.isEmpty())
                Cli::printError(QStringLiteral("no such image: ") + arg);
            else
                Cli::printError(undecodable + QStringLiteral(": file name is not valid UTF-8, rename it"));
            status = Cli::ItemFailed;
            continue;
        }
        const QSize size = imageSize(image);
        if (!size.isValid()) {
            Cli::printError(QStringLiteral("cannot read image: ") + arg);
            status = Cli::ItemFailed;
            continue;
        }
        const StoredAnnotations stored = readStoredAnnotations(image);
        QJsonArray annotations;
        for (const Annotation &a : stored.annotations)
            annotations.append(annotationToJson(a));
        QJsonObject line{
            {QStringLiteral("image"), image},
            {QStringLiteral("width"), size.width()},
            {QStringLiteral("height"), size.height()},
            {QStringLiteral("count"), countAnnotations(image)},
            {QStringLiteral("annotations"), annotations},
            {QStringLiteral("complete"), stored.complete()},
        };
        // Shapes of a labelme file that are kept as they are (circles, lines, points, ...).
        if (stored.kept > 0)
            line.insert(QStringLiteral("kept"), stored.kept);
        if (!stored.complete()) {
            line.insert(QStringLiteral("damaged"), stored.damagedFile);
            line.insert(QStringLiteral("reason"), stored.problem.name());
        }
        Cli::printJson(line);
    }
    return status;
}
