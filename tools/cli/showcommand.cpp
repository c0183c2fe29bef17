#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "shared/language.h"
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
                Cli::printError(translateText("没有这张图片：%1").arg(arg));
            else
                Cli::printError(translateText("%1：文件名不是有效的 UTF-8，请重命名").arg(undecodable));
            status = Cli::ItemFailed;
            continue;
        }
        const QSize size = imageSize(image);
        if (!size.isValid()) {
            Cli::printError(translateText("无法读取图片：%1").arg(arg));
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
