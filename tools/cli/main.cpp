#include "tools/cli/cliio.h"
#include "tools/cli/commandhelp.h"
#include "tools/cli/commands.h"
#include "tools/cli/parsecommand.h"

#include "shared/language.h"
#include "storage/annotation.h"
#include "storage/imagescaling.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

struct Command
{
    const char *name;
    const char *usage;
    int (*run)(const QStringList &args);
};

// The subcommands. To add one: write <name>command.cpp with int run<Name>Command(const QStringList &),
// declare it in commands.h, list the file in CMakeLists.txt and add its row here, for example
//     {"parse", "parse ...", runParseCommand},
const Command commands[] = {
    {"list", "list DIR", runListCommand},
    {"show", "show IMAGE...", runShowCommand},
    {"pending", "pending DIR", runPendingCommand},
    {"convert", "convert --to yolo|voc|labelme [--classes a,b,...] PATH...", runConvertCommand},
    {"export", "export --to coco|ultralytics [--val FRACTION] [--seed N] [--output FILE] [--include-unlabelled] DIR", runExportCommand},
    {"import", "import --from coco [--merge] [--format voc|yolo|labelme] FILE.json DIR", runImportCommand},
    {"parse", "parse --source WxH [--sent WxH] [--min-score S] [--classes a,b,...] [--restrict] [--pending]",
     runParseCommand},
    {"check", "check [--classes a,b,...] [--server URL [--model NAME] [--concurrency N] [--timeout S]] DIR",
     runCheckCommand},
    {"label",
     "label --server URL [--model NAME] [--concurrency N] [--timeout S] [--prompt TEXT] [--classes a,b,...] "
     "[--min-score S] [--unlabelled] [--confirmed [--add-classes]] [--format voc|yolo] DIR",
     runLabelCommand},
};

QString allUsages()
{
    QStringList lines;
    for (const Command &command : commands)
        lines.append(QLatin1String(command.usage));
    return lines.join(QLatin1String(" | "));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Before any thread decodes (label runs prepare requests on worker threads).
    raiseImageAllocationLimit(4096);
    registerAnnotationMetaTypes();
    // A terminal tool speaks its terminal's language, whatever the window was set to.
    loadEnvironmentLanguage();

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return Cli::usage(allUsages());
    const QString name = args.takeFirst();
    if (name == u"-h" || name == u"--help" || name == u"help") {
        for (const Command &command : commands)
            Cli::printLine(QStringLiteral("usage: brindlemark-cli ") + QLatin1String(command.usage));
        return Cli::Ok;
    }
    for (const Command &command : commands) {
        if (name != QLatin1String(command.name))
            continue;
        if (asksForHelp(args)) {
            Cli::printLine(commandHelp(name));
            return Cli::Ok;
        }
        return command.run(args);
    }
    Cli::printError(QStringLiteral("unknown command: ") + name);
    return Cli::usage(allUsages());
}
