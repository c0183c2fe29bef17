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
    QString format;
    QString output;
    QStringList dirs;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            dirs.append(arg);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        QString *target = nullptr;
        QString name = arg;
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0)
            name = arg.left(eq);
        if (name == u"--to")
            target = &format;
        else if (name == u"--output")
            target = &output;
        if (!target) {
            Cli::printError(QStringLiteral("unknown option: ") + arg);
            return Cli::usage(exportUsage);
        }
        if (eq > 0)
            *target = arg.mid(eq + 1);
        else if (i + 1 < args.size())
            *target = args.at(++i);
        else
            return Cli::usage(exportUsage);
        if (target->isEmpty())
            return Cli::usage(exportUsage);
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
