#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"
#include "tools/cli/labeloptions.h"
#include "tools/cli/labelrun.h"
#include "tools/cli/signalwatcher.h"

#include "shared/language.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

int runLabelCommand(const QStringList &args)
{
    LabelOptions options;
    const QString problem = options.parse(args);
    if (!problem.isEmpty()) {
        Cli::printError(QStringLiteral("label: ") + problem);
        return Cli::usage(LabelOptions::usage());
    }
    if (!QFileInfo(options.dir).isDir()) {
        Cli::printError(translateText("不是目录：%1").arg(options.dir));
        return Cli::ItemFailed;
    }
    // A dataset root is labelled one image folder at a time: each keeps its own pending file.
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(options.dir, &complete);
    if (complete && Cli::reportNoImages(folders, options.dir))
        return Cli::UsageError;
    if (folders.size() != 1 || folders.first().dir != QDir(options.dir).absolutePath()) {
        QStringList names;
        for (const Cli::ImageFolder &folder : folders)
            names.append(folder.dir);
        Cli::printError(translateText("%1 本身没有图片；请逐个标注其中的图片文件夹：%2")
                            .arg(options.dir, names.join(QStringLiteral(", "))));
        return Cli::UsageError;
    }

    QEventLoop loop;
    LabelRun run(options);
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::interrupted, &run, &LabelRun::interrupt);
    QObject::connect(&run, &LabelRun::finished, &loop, &QEventLoop::exit);
    // Started from the loop, so that a run that ends at once still ends it.
    QMetaObject::invokeMethod(&run, &LabelRun::start, Qt::QueuedConnection);
    return loop.exec();
}
