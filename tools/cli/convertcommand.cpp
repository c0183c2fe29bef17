#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "storage/dotafile.h"
#include "storage/labelconversion.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString convertUsage = QStringLiteral("convert --to yolo|voc|labelme|dota [--classes a,b,...] PATH...");

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
    const LabelFormat to = labelFormatNamed(format);
    if (to == LabelFormat::None || paths.isEmpty())
        return Cli::usage(convertUsage);

    int status = Cli::Ok;
    for (const QString &path : std::as_const(paths)) {
        const QFileInfo info(path);
        QStringList images;
        if (info.isDir()) {
            bool complete = true;
            const QList<Cli::ImageFolder> folders = Cli::datasetImages(path, &complete);
            if (complete && Cli::reportNoImages(folders, path)) {
                status = Cli::UsageError;
                continue;
            }
            images = Cli::imagesOf(folders);
            if (!complete)
                status = std::max<int>(status, Cli::ItemFailed);
        } else if (info.isFile()) {
            images.append(info.absoluteFilePath());
        } else {
            Cli::printError(QStringLiteral("no such file or directory: ") + path);
            status = std::max<int>(status, Cli::ItemFailed);
            continue;
        }
        for (const QString &image : std::as_const(images)) {
            const LabelConversion done = convertLabelFile(image, to, classes);
            switch (done.outcome) {
            case LabelConversion::NoLabels:
                Cli::printJson(QJsonObject{
                    {QStringLiteral("image"), image},
                    {QStringLiteral("format"), format},
                    {QStringLiteral("count"), -1},
                    {QStringLiteral("skipped"), true},
                });
                continue;
            case LabelConversion::Incomplete:
                Cli::printError(QStringLiteral("cannot read %1 completely (%2); %3 left as it is")
                                    .arg(done.file, done.problem.name(), image));
                break;
            case LabelConversion::KeptShapes:
                Cli::printError(QStringLiteral("%1 holds %2 shapes (circles, lines, points, ...) that %3 cannot hold; "
                                               "%4 left as it is")
                                    .arg(done.file)
                                    .arg(done.kept)
                                    .arg(format, image));
                break;
            case LabelConversion::NoImageSize:
                Cli::printError(QStringLiteral("cannot read image: ") + image);
                break;
            case LabelConversion::Failed:
                if (done.refusedLink)
                    Cli::printError(QStringLiteral("cannot save %1 as %2: %3 is a link that leads out of the "
                                                   "dataset or nowhere; not written through it")
                                        .arg(image, format, done.file));
                else if (!done.missingNames.isEmpty())
                    Cli::printError(QStringLiteral("cannot save %1 as %2: the class list %3 lacks %4; add them "
                                                   "there first")
                                        .arg(image, format, done.file, done.missingNames.join(QStringLiteral(", "))));
                else if (!done.file.isEmpty())
                    Cli::printError(QStringLiteral("cannot save %1 as %2: cannot read class names file %3")
                                        .arg(image, format, done.file));
                else if (to == LabelFormat::Dota && dotaLabelPath(image).isEmpty())
                    Cli::printError(QStringLiteral("cannot save %1 as dota: DOTA labels go to ../labelTxt/ of an "
                                                   "images/ folder")
                                        .arg(image));
                else if (to == LabelFormat::Dota)
                    Cli::printError(QStringLiteral("cannot save %1 as dota: a category with spaces, an outline "
                                                   "of other than four points, or a failed write")
                                        .arg(image));
                else
                    Cli::printError(QStringLiteral("cannot save %1 as %2").arg(image, format));
                break;
            case LabelConversion::Keypoints:
                Cli::printError(QStringLiteral("cannot convert %1 to %2: %3 declares keypoints (kpt_shape), which "
                                               "%2 cannot hold; left as it is")
                                    .arg(image, format, done.file));
                break;
            case LabelConversion::Converted: {
                QJsonObject line{
                    {QStringLiteral("image"), image},
                    {QStringLiteral("format"), format},
                    {QStringLiteral("count"), done.count},
                };
                if (done.outsideImage > 0) {
                    // Another tool's boxes beside the picture: no reader could use them.
                    line.insert(QStringLiteral("outside"), done.outsideImage);
                    Cli::printError(QStringLiteral("%1: %2 shape(s) wholly outside the image left out")
                                        .arg(image)
                                        .arg(done.outsideImage));
                }
                Cli::printJson(line);
                continue;
            }
            }
            status = std::max<int>(status, Cli::ItemFailed);
        }
    }
    return status;
}
