#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"
#include "tools/cli/labeloptions.h"
#include "tools/cli/labelrun.h"
#include "tools/cli/signalwatcher.h"

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
        Cli::printError(QStringLiteral("not a directory: ") + options.dir);
        return Cli::ItemFailed;
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
