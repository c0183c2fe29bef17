#include "tools/cli/exportdota.h"

#include "tools/cli/cliio.h"

#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/dotafile.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

int exportDotaFolder(const QString &dir, const QString &output, bool includeUnlabelled)
{
    if (output.isEmpty()) {
        Cli::printError(translateText("export --to dota 需要 --output FOLDER"));
        return Cli::UsageError;
    }
    const QString root = QDir(output).absolutePath();
    const QString labelTxt = root + QStringLiteral("/labelTxt");
    // Never over another export or the user's own files: a new or empty folder only.
    if (QFileInfo(labelTxt).isSymLink()
        || (QFileInfo::exists(labelTxt) && !QDir(labelTxt).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))) {
        Cli::printError(translateText("%1 已存在且不是空的：请选一个新文件夹").arg(labelTxt));
        return Cli::ItemFailed;
    }
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(dir, &complete);
    if (complete && Cli::reportNoImages(folders, dir))
        return Cli::UsageError;
    if (!makeFolderInside(labelTxt, root)) {
        Cli::printError(translateText("无法创建 %1").arg(labelTxt));
        return Cli::ItemFailed;
    }

    int images = 0;
    int annotations = 0;
    int unlabelled = 0;
    bool failed = !complete;
    QSet<QString> names;
    for (const QString &image : Cli::imagesOf(folders)) {
        const StoredAnnotations stored = readStoredAnnotations(image);
        if (stored.file.isEmpty() && !includeUnlabelled) {
            ++unlabelled;
            Cli::printError(translateText("%1 没有标注文件：作为未标注图片略去（--include-unlabelled 会把它作为背景图片加入）")
                                .arg(image));
            continue;
        }
        if (!stored.complete()) {
            Cli::printError(translateText("无法完整读取 %1（%2）；略去 %3")
                                .arg(stored.damagedFile, stored.problem.name(), image));
            failed = true;
            continue;
        }
        const QString name = QFileInfo(image).completeBaseName() + QStringLiteral(".txt");
        if (names.contains(name)) {
            Cli::printError(translateText("%1：另一张图片已经写了 labelTxt/%2；略去").arg(image, name));
            failed = true;
            continue;
        }
        if (!writeDotaFile(labelTxt + QLatin1Char('/') + name, stored.annotations, root)) {
            Cli::printError(translateText("无法把 %1 写成 dota（类别名含空格、带关键点、轮廓不是四个点，或写入失败）；略去")
                                .arg(image));
            failed = true;
            continue;
        }
        names.insert(name);
        ++images;
        annotations += int(stored.annotations.size());
    }
    Cli::printJson(QJsonObject{
        {QStringLiteral("output"), labelTxt},
        {QStringLiteral("images"), images},
        {QStringLiteral("annotations"), annotations},
        {QStringLiteral("unlabelled"), unlabelled},
    });
    return failed ? Cli::ItemFailed : Cli::Ok;
}
