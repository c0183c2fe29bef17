#include "tools/cli/cliio.h"
#include "tools/cli/commandhelp.h"
#include "tools/cli/commands.h"
#include "tools/cli/serveroptions.h"

#include "inference/vllmclient.h"
#include "session/autolabelrun.h"
#include "session/checkrun.h"
#include "session/datasetcategories.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct CheckOptions
{
    QString dir;
    bool haveClasses = false;
    QStringList classes;
    ServerOptions servers;   // --server, once per replica of one model, and its options
};

int usageError(const QString &problem)
{
    Cli::printError(QStringLiteral("check: ") + problem);
    return Cli::usage(commandUsage(QStringLiteral("check")));
}

// Returns Cli::Ok, or the exit code of a usage error already reported.
int parseOptions(const QStringList &args, CheckOptions &o)
{
    QString error;
    const QStringList serverOptions = ServerOptions::names();
    const QList<Cli::Argument> arguments =
        Cli::splitArguments(args, QStringList{QStringLiteral("--classes")} + serverOptions, {}, &error);
    if (!error.isEmpty())
        return usageError(error);
    QStringList serverOnly;
    for (const Cli::Argument &a : arguments) {
        const QString &value = a.value;
        if (a.isWord()) {
            if (!o.dir.isEmpty())
                return usageError(translateText("只能给一个 DIR，却给了 %1 和 %2").arg(o.dir, value));
            o.dir = value;
        } else if (a.name == u"--classes") {
            o.haveClasses = true;
            o.classes = Cli::classList(value);
        } else {
            if (const QString problem = o.servers.take(a.name, value); !problem.isEmpty())
                return usageError(problem);
            if (a.name != u"--server")
                serverOnly.append(a.name);
        }
    }
    if (!serverOnly.isEmpty() && !o.servers.given)
        return usageError(translateText("%1 需要 --server").arg(serverOnly.first()));
    if (o.dir.isEmpty())
        return usageError(translateText("缺少 DIR"));
    return Cli::Ok;
}

// Asks the server for its models; false (with the reason) when it does not answer.
bool serverAnswers(VllmClient &client, QString &reason)
{
    QEventLoop loop;
    bool online = false;
    QObject::connect(&client, &VllmClient::statusChanged, &loop, [&](bool ok, const QString &detail) {
        online = ok;
        reason = detail;
        loop.quit();
    });
    client.probeServer();
    loop.exec();
    return online;
}

} // namespace

int runCheckCommand(const QStringList &args)
{
    CheckOptions o;
    if (const int status = parseOptions(args, o); status != Cli::Ok)
        return status;
    if (!QFileInfo(o.dir).isDir()) {
        Cli::printError(QStringLiteral("check: ") + translateText("不是目录：%1").arg(o.dir));
        return Cli::ItemFailed;
    }

    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(o.dir, &complete);
    if (complete && Cli::reportNoImages(folders, o.dir))
        return Cli::UsageError;
    const QStringList images = Cli::imagesOf(folders);
    QStringList classes = o.classes;
    if (!o.haveClasses && !images.isEmpty()) {
        // The window's answer too: the dataset's class list, whichever file holds it.
        DatasetCategories categories;
        categories.openFolder(QFileInfo(images.constFirst()).absolutePath());
        categories.showImage(images.constFirst());
        classes = categories.checkedClasses();
    }

    VllmClient client;
    QStringList labelled;
    ServerConfig server = o.servers.server;
    QStringList replicas = o.servers.replicas;
    if (o.servers.given) {
        // The model list comes from the first server that answers; the others serve the same model
        // and are still sent to (they rest while they fail).
        for (int tried = 0;; ++tried) {
            client.setServerConfig(server);
            QString reason;
            if (serverAnswers(client, reason))
                break;
            Cli::printError(QStringLiteral("check: ")
                            + translateText("%1 没有推理服务应答：%2").arg(server.baseUrl, reason));
            if (tried == replicas.size())
                return Cli::ItemFailed;
            Cli::nextServerFirst(server, replicas);
        }
        server.model = AutoLabelRun::modelToUse(server.model, AutoLabelRun::ModelName::Given, client.servedModels());
        for (const QString &path : images) {
            if (countAnnotations(path) > 0)
                labelled.append(path);
        }
    }

    const auto print = [](const LabelIssue &issue) {
        Cli::printJson(QJsonObject{{QStringLiteral("image"), issue.path},
                                   {QStringLiteral("kind"), issue.kindName()},
                                   {QStringLiteral("problem"), issue.problem()},
                                   {QStringLiteral("detail"), issue.detail()}});
    };
    QEventLoop loop;
    CheckRun run(&client);
    bool rulesDone = false;
    QList<LabelIssue> heldBack;   // model findings wait for the rule findings, so the order is stable
    QObject::connect(&run, &CheckRun::issueFound, &loop, [&](const LabelIssue &issue) {
        if (rulesDone || !issue.fromModel())
            print(issue);
        else
            heldBack.append(issue);
    });
    QObject::connect(&run, &CheckRun::rulesFinished, &loop, [&] {
        rulesDone = true;
        for (const LabelIssue &issue : std::as_const(heldBack))
            print(issue);
        heldBack.clear();
    });
    CheckSummary result;
    QObject::connect(&run, &CheckRun::finished, &loop, [&](const CheckSummary &summary) {
        result = summary;
        loop.quit();
    });
    run.start(images, classes, labelled, server, replicas);
    loop.exec();

    QJsonObject summary{{QStringLiteral("checked"), result.checkedImages},
                        {QStringLiteral("issues"), result.issues()},
                        {QStringLiteral("issueImages"), result.issueImages}};
    if (!o.servers.given) {
        Cli::printJson(summary);
    } else {
        summary.insert(QStringLiteral("reviewed"), result.reviewedImages);
        // "servers" comes last, after the fields scripts already read.
        QList<ServerPool::Count> counts = client.serverCounts();
        if (labelled.isEmpty()) {
            counts.clear();   // no review was sent: every server with nothing asked of it
            for (const QString &url : QStringList{server.baseUrl} + replicas)
                counts.append({url, 0, 0});
        }
        QByteArray line = QJsonDocument(summary).toJson(QJsonDocument::Compact);
        line.chop(1);
        Cli::printLine(QString::fromUtf8(line + ",\"servers\":" + Cli::serverCountsJson(counts) + '}'));
    }
    return result.issues() > 0 || !complete ? Cli::ItemFailed : Cli::Ok;
}
