#include "tools/cli/exportdota.h"

#include "tools/cli/cliio.h"

#include "storage/annotationstore.h"
#include "storage/dotafile.h"
#include "storage/writeguard.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

int exportDotaFolder(const QString &dir, const QString &output, bool includeUnlabelled)
{
    if (output.isEmpty()) {
        Cli::printError(QStringLiteral("export --to dota needs --output FOLDER"));
        return Cli::UsageError;
    }
    const QString root = QDir(output).absolutePath();
    const QString labelTxt = root + QStringLiteral("/labelTxt");
    // Never over another export or the user's own files: a new or empty folder only.
    if (QFileInfo(labelTxt).isSymLink()
        || (QFileInfo::exists(labelTxt) && !QDir(labelTxt).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))) {
        Cli::printError(QStringLiteral("%1 exists and is not empty: choose a new folder").arg(labelTxt));
        return Cli::ItemFailed;
    }
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(dir, &complete);
    if (complete && Cli::reportNoImages(folders, dir))
        return Cli::UsageError;
    if (!makeFolderInside(labelTxt, root)) {
        Cli::printError(QStringLiteral("cannot create ") + labelTxt);
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
            Cli::printError(QStringLiteral("%1 has no label file: left out as unlabelled (--include-unlabelled "
                                           "adds it as background)")
                                .arg(image));
            continue;
        }
        if (!stored.complete()) {
            Cli::printError(QStringLiteral("cannot read %1 completely (%2); %3 left out")
                                .arg(stored.damagedFile, stored.problem.name(), image));
            failed = true;
            continue;
        }
        const QString name = QFileInfo(image).completeBaseName() + QStringLiteral(".txt");
        if (names.contains(name)) {
            Cli::printError(QStringLiteral("%1: another image already gave labelTxt/%2; left out").arg(image, name));
            failed = true;
            continue;
        }
        if (!writeDotaFile(labelTxt + QLatin1Char('/') + name, stored.annotations, root)) {
            Cli::printError(QStringLiteral("cannot write %1 as dota (a category with spaces, keypoints, an outline "
                                           "of other than four points, or a failed write); left out")
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
