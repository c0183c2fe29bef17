#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "shared/language.h"
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
            Cli::printError(translateText("没有这个文件或目录：%1").arg(path));
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
                Cli::printError(translateText("无法完整读取 %1（%2）；%3 保持原样")
                                    .arg(done.file, done.problem.name(), image));
                break;
            case LabelConversion::KeptShapes:
                Cli::printError(translateText("%1 中有 %2 个 %3 容纳不了的形状（圆、线、点等）；%4 保持原样")
                                    .arg(done.file, QString::number(done.kept), format, image));
                break;
            case LabelConversion::NoImageSize:
                Cli::printError(translateText("无法读取图片：%1").arg(image));
                break;
            case LabelConversion::Failed:
                if (done.keypointRows)
                    Cli::printError(translateText("无法把 %1 保存为 %2：%3 声明了关键点（kpt_shape），每行只能是带关键点的框，容纳不了多边形或旋转框")
                                        .arg(image, format, done.file));
                else if (done.refusedLink)
                    Cli::printError(translateText("无法把 %1 保存为 %2：%3 是指向数据集之外或不存在位置的链接，不经由它写入")
                                        .arg(image, format, done.file));
                else if (!done.missingNames.isEmpty())
                    Cli::printError(translateText("无法把 %1 保存为 %2：类别表 %3 中没有 %4，请先把它们加进去")
                                        .arg(image, format, done.file, done.missingNames.join(QStringLiteral(", "))));
                else if (!done.file.isEmpty())
                    Cli::printError(translateText("无法把 %1 保存为 %2：无法读取类别名文件 %3")
                                        .arg(image, format, done.file));
                else if (to == LabelFormat::Dota && dotaLabelPath(image).isEmpty())
                    Cli::printError(translateText("无法把 %1 保存为 dota：DOTA 标注只能放在 images/ 文件夹旁的 ../labelTxt/ 中")
                                        .arg(image));
                else if (to == LabelFormat::Dota)
                    Cli::printError(translateText("无法把 %1 保存为 dota：类别名含空格、轮廓不是四个点，或写入失败")
                                        .arg(image));
                else
                    Cli::printError(translateText("无法把 %1 保存为 %2").arg(image, format));
                break;
            case LabelConversion::Keypoints:
                Cli::printError(translateText("无法把 %1 转换为 %2：%3 声明了关键点（kpt_shape），%2 容纳不了；保持原样")
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
                    Cli::printError(translateText("%1：略去了 %2 个完全在图片之外的标注")
                                        .arg(image, QString::number(done.outsideImage)));
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
