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
    int (*run)(const QStringList &args);
};

// The subcommands. To add one: write <name>command.cpp with int run<Name>Command(const QStringList &),
// declare it in commands.h, list the file in CMakeLists.txt, add its row here, for example
//     {"parse", runParseCommand},
// and its usage and options to commandhelp.cpp.
const Command commands[] = {
    {"list", runListCommand},
    {"show", runShowCommand},
    {"pending", runPendingCommand},
    {"convert", runConvertCommand},
    {"export", runExportCommand},
    {"import", runImportCommand},
    {"parse", runParseCommand},
    {"check", runCheckCommand},
    {"label", runLabelCommand},
};

QString allUsages()
{
    QStringList lines;
    for (const Command &command : commands)
        lines.append(commandUsage(QLatin1String(command.name)));
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
            Cli::printLine(translateText("用法：brindlemark-cli %1").arg(commandUsage(QLatin1String(command.name))));
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
    Cli::printError(translateText("未知命令：%1").arg(name));
    return Cli::usage(allUsages());
}
