#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/atomicfile.h"
#include "storage/cocoexport.h"
#include "storage/directoryloader.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

namespace {

const QString exportUsage = QStringLiteral("export --to coco [--output FILE] DIR");

} // namespace

int runExportCommand(const QStringList &args)
{
    QString error;
    const QList<Cli::Argument> arguments =
        Cli::splitArguments(args, {QStringLiteral("--to"), QStringLiteral("--output")}, {}, &error);
    if (!error.isEmpty()) {
        Cli::printError(error);
        return Cli::usage(exportUsage);
    }
    QString format;
    QString output;
    QStringList dirs;
    for (const Cli::Argument &a : arguments) {
        if (a.isWord())
            dirs.append(a.value);
        else if (a.value.isEmpty())
            return Cli::usage(exportUsage);
        else if (a.name == u"--to")
            format = a.value;
        else
            output = a.value;
    }
    if (format != u"coco" || dirs.size() != 1)
        return Cli::usage(exportUsage);
    if (!QFileInfo(dirs.first()).isDir()) {
        Cli::printError(QStringLiteral("not a directory: ") + dirs.first());
        return Cli::ItemFailed;
    }

    const QString dir = QDir(dirs.first()).absolutePath();
    const CocoExport coco = exportCoco(dir, DirectoryLoader::listImages(dir));
    for (const QString &problem : coco.problems)
        Cli::printError(problem);
    const QByteArray json = QJsonDocument(coco.document).toJson(QJsonDocument::Compact) + '\n';
    if (output.isEmpty()) {
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fflush(stdout);
    } else {
        const QString path = Cli::absolutePath(output);
        if (!writeFileAtomically(path, json)) {
            Cli::printError(QStringLiteral("cannot write ") + path);
            return Cli::ItemFailed;
        }
        Cli::printJson(QJsonObject{
            {QStringLiteral("output"), path},
            {QStringLiteral("images"), coco.imageCount},
            {QStringLiteral("annotations"), coco.annotationCount},
            {QStringLiteral("categories"), coco.categoryCount},
        });
    }
    return coco.problems.isEmpty() ? Cli::Ok : Cli::ItemFailed;
}
