#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"

#include <QFileInfo>

namespace {

const QString convertUsage = QStringLiteral("convert --to yolo|voc [--classes a,b,...] PATH...");

} // namespace

int runConvertCommand(const QStringList &args)
{
    QString error;
    const QList<Cli::Argument> arguments =
        Cli::splitArguments(args, {QStringLiteral("--to"), QStringLiteral("--classes")}, {}, &error);
    if (!error.isEmpty()) {
        Cli::printError(error);
        return Cli::usage(convertUsage);
    }
    QString format;
    QStringList classes;
    QStringList paths;
    for (const Cli::Argument &a : arguments) {
        if (a.isWord())
            paths.append(a.value);
        else if (a.name == u"--to")
            format = a.value;
        else
            classes = Cli::classList(a.value);
    }
    if ((format != u"yolo" && format != u"voc") || paths.isEmpty())
        return Cli::usage(convertUsage);
    const bool toYolo = format == u"yolo";

    int status = Cli::Ok;
    for (const QString &path : std::as_const(paths)) {
        const QFileInfo info(path);
        QStringList images;
        if (info.isDir()) {
            bool complete = true;
            images = Cli::listImages(path, &complete);
            if (!complete)
                status = Cli::ItemFailed;
        } else if (info.isFile()) {
            images.append(info.absoluteFilePath());
        } else {
            Cli::printError(QStringLiteral("no such file or directory: ") + path);
            status = Cli::ItemFailed;
            continue;
        }
        for (const QString &image : std::as_const(images)) {
            // What could not be read to its end must not replace the file it came from.
            const StoredAnnotations stored = readStoredAnnotations(image);
            // An image without labels stays without: an empty file would mark it as labelled.
            if (stored.file.isEmpty()) {
                Cli::printJson(QJsonObject{
                    {QStringLiteral("image"), image},
                    {QStringLiteral("format"), format},
                    {QStringLiteral("count"), -1},
                    {QStringLiteral("skipped"), true},
                });
                continue;
            }
            if (!stored.complete()) {
                Cli::printError(QStringLiteral("cannot read %1 completely; %2 left as it is")
                                    .arg(stored.damagedFile, image));
                status = Cli::ItemFailed;
                continue;
            }
            // Without a size YOLO labels read as nothing: converting would delete them.
            if (imageSize(image).isEmpty()) {
                Cli::printError(QStringLiteral("cannot read image: ") + image);
                status = Cli::ItemFailed;
                continue;
            }
            SaveReport report;
            if (!saveAnnotations(image, stored.annotations, toYolo, classes, &report)) {
                if (report.refusedFile.isEmpty())
                    Cli::printError(QStringLiteral("cannot save %1 as %2").arg(image, format));
                else
                    Cli::printError(QStringLiteral("cannot save %1 as %2: %3 is a link that leads out of the "
                                                   "dataset or nowhere; not written through it")
                                        .arg(image, format, report.refusedFile));
                status = Cli::ItemFailed;
                continue;
            }
            Cli::printJson(QJsonObject{
                {QStringLiteral("image"), image},
                {QStringLiteral("format"), format},
                {QStringLiteral("count"), countAnnotations(image)},
            });
        }
    }
    return status;
}
