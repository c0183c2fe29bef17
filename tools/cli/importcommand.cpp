#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "session/cocoimport.h"
#include "shared/language.h"

#include <QFileInfo>

namespace {

const QString importUsage =
    QStringLiteral("import --from coco [--merge] [--format voc|yolo|labelme] FILE.json DIR");

} // namespace

int runImportCommand(const QStringList &args)
{
    QString error;
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args, {QStringLiteral("--from"), QStringLiteral("--format")}, {QStringLiteral("--merge")}, &error);
    if (!error.isEmpty()) {
        Cli::printError(error);
        return Cli::usage(importUsage);
    }
    QString from;
    QString format;
    CocoImportOptions options;
    QStringList words;
    for (const Cli::Argument &a : arguments) {
        if (a.isWord())
            words.append(a.value);
        else if (a.name == u"--from")
            from = a.value;
        else if (a.name == u"--format")
            format = a.value;
        else
            options.merge = true;
    }
    if (from != u"coco" || words.size() != 2)
        return Cli::usage(importUsage);
    if (!format.isEmpty()) {
        options.newFileFormat = labelFormatNamed(format);
        // DOTA files only exist beside an "images" folder; an import is not limited to one.
        if (options.newFileFormat == LabelFormat::None || options.newFileFormat == LabelFormat::Dota)
            return Cli::usage(importUsage);
    }
    const QString dir = Cli::absolutePath(words.at(1));
    if (!QFileInfo(dir).isDir()) {
        Cli::printError(translateText("没有这个目录：%1").arg(words.at(1)));
        return Cli::ItemFailed;
    }
    const CocoDocument document = readCocoFile(words.at(0));
    if (document.failed()) {
        Cli::printError(words.at(0) + QStringLiteral(": ") + describeCocoFailure(document));
        return Cli::ItemFailed;
    }
    bool complete = true;
    const QStringList images = Cli::listImages(dir, &complete);
    const CocoImportSummary summary = importCocoInto(document, dir, images, options);

    for (const QString &name : summary.missing)
        Cli::printError(translateText("不在文件夹中：%1").arg(name));
    for (const QString &image : summary.unlisted)
        Cli::printError(translateText("不在文件中：%1").arg(image));
    for (const QString &image : summary.labelled)
        Cli::printError(translateText("已有标注，保持原样（--merge 会加入其中）：%1").arg(image));
    for (const QString &image : summary.failed)
        Cli::printError(translateText("无法写入 %1 的标注").arg(image));
    Cli::printJson(QJsonObject{
        {QStringLiteral("images"), int(summary.written.size())},
        {QStringLiteral("annotations"), summary.annotations},
        {QStringLiteral("duplicates"), summary.duplicates},
        {QStringLiteral("labelled"), int(summary.labelled.size())},
        {QStringLiteral("missing"), int(summary.missing.size())},
        {QStringLiteral("unlisted"), int(summary.unlisted.size())},
        {QStringLiteral("rle_refused"), summary.rleRefused},
        {QStringLiteral("unusable"), summary.unusable},
        {QStringLiteral("failed"), int(summary.failed.size())},
    });
    return summary.failed.isEmpty() && complete ? Cli::Ok : Cli::ItemFailed;
}
