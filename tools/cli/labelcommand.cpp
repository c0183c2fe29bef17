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
    // A dataset root is labelled in each of its image folders, each with its own pending file.
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(options.dir, &complete);
    if (complete && Cli::reportNoImages(folders, options.dir))
        return Cli::UsageError;
    QStringList dirs;
    for (const Cli::ImageFolder &folder : folders)
        dirs.append(folder.dir);
    if (dirs.isEmpty())
        dirs.append(QDir(options.dir).absolutePath());   // nothing listable: the run says so

    QEventLoop loop;
    LabelRun run(options, dirs);
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::interrupted, &run, &LabelRun::interrupt);
    QObject::connect(&run, &LabelRun::finished, &loop, &QEventLoop::exit);
    // Started from the loop, so that a run that ends at once still ends it.
    QMetaObject::invokeMethod(&run, &LabelRun::start, Qt::QueuedConnection);
    return loop.exec();
}
