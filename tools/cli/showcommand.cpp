#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/annotationjson.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"

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
            Cli::printError(QStringLiteral("no such image: ") + arg);
            status = Cli::ItemFailed;
            continue;
        }
        const QSize size = imageSize(image);
        if (!size.isValid()) {
            Cli::printError(QStringLiteral("cannot read image: ") + arg);
            status = Cli::ItemFailed;
            continue;
        }
        QJsonArray annotations;
        for (const Annotation &a : loadAnnotations(image))
            annotations.append(annotationToJson(a));
        Cli::printJson(QJsonObject{
            {QStringLiteral("image"), image},
            {QStringLiteral("width"), size.width()},
            {QStringLiteral("height"), size.height()},
            {QStringLiteral("count"), countAnnotations(image)},
            {QStringLiteral("annotations"), annotations},
        });
    }
    return status;
}
