#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"

#include "inference/vllmclient.h"
#include "session/checkrun.h"
#include "session/datasetcategories.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>

namespace {

const char kUsage[] = "check [--classes a,b,...] [--server URL [--model NAME] [--concurrency N] [--timeout S]] DIR";

struct CheckOptions
{
    QString dir;
    bool haveClasses = false;
    QStringList classes;
    bool haveServer = false;
    ServerConfig server;
};

int usageError(const QString &problem)
{
    Cli::printError(QStringLiteral("check: ") + problem);
    return Cli::usage(QLatin1String(kUsage));
}

bool parsePositive(const QString &text, qint32 &out)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 1)
        return false;
    out = value;
    return true;
}

// Returns Cli::Ok, or the exit code of a usage error already reported.
int parseOptions(const QStringList &args, CheckOptions &o)
{
    QString error;
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args,
        {QStringLiteral("--classes"), QStringLiteral("--server"), QStringLiteral("--model"),
         QStringLiteral("--concurrency"), QStringLiteral("--timeout")},
        {}, &error);
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
        } else if (a.name == u"--server") {
            const QString base = Cli::serverBaseUrl(value);
            if (base.isEmpty())
                return usageError(translateText("服务器地址无效：%1").arg(value));
            o.haveServer = true;
            o.server.baseUrl = base;
        } else if (a.name == u"--model") {
            if (value.trimmed().isEmpty())
                return usageError(translateText("--model 需要一个名字"));
            o.server.model = value;
            serverOnly.append(a.name);
        } else if (a.name == u"--concurrency") {
            if (!parsePositive(value, o.server.concurrency))
                return usageError(translateText("并发数无效：%1").arg(value));
            serverOnly.append(a.name);
        } else {
            if (!parsePositive(value, o.server.timeout))
                return usageError(translateText("超时无效：%1").arg(value));
            serverOnly.append(a.name);
        }
    }
    if (!serverOnly.isEmpty() && !o.haveServer)
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
    if (o.haveServer) {
        client.setServerConfig(o.server);
        QString reason;
        if (!serverAnswers(client, reason)) {
            Cli::printError(QStringLiteral("check: ")
                            + translateText("%1 没有推理服务应答：%2").arg(o.server.baseUrl, reason));
            return Cli::ItemFailed;
        }
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
    run.start(images, classes, labelled, o.server);
    loop.exec();

    QJsonObject summary{{QStringLiteral("checked"), result.checkedImages},
                        {QStringLiteral("issues"), result.issues()},
                        {QStringLiteral("issueImages"), result.issueImages}};
    if (o.haveServer)
        summary.insert(QStringLiteral("reviewed"), result.reviewedImages);
    Cli::printJson(summary);
    return result.issues() > 0 || !complete ? Cli::ItemFailed : Cli::Ok;
}
