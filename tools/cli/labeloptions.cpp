#include "tools/cli/labeloptions.h"

#include "shared/language.h"
#include "tools/cli/cliio.h"

#include <cmath>

namespace {

const int kMaxShards = 100000;

} // namespace

QString LabelOptions::usage()
{
    return QStringLiteral("label --server URL [--server URL ...] [--shard K/N] [--progress jsonl] [--model NAME] [--concurrency N] [--timeout S] [--prompt TEXT] "
                          "[--classes a,b,...] [--min-score S] [--unlabelled] [--confirmed [--add-classes]] [--format voc|yolo] DIR");
}

QString LabelOptions::parse(const QStringList &args)
{
    QString error;
    const QStringList serverOptions = ServerOptions::names();
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args,
        serverOptions
            + QStringList{QStringLiteral("--prompt"), QStringLiteral("--classes"), QStringLiteral("--min-score"),
                          QStringLiteral("--format"), QStringLiteral("--shard"), QStringLiteral("--progress")},
        {QStringLiteral("--unlabelled"), QStringLiteral("--confirmed"), QStringLiteral("--add-classes")}, &error);
    if (!error.isEmpty())
        return error;
    QStringList dirs;
    for (const Cli::Argument &a : arguments) {
        const QString &name = a.name;
        const QString &value = a.value;
        if (a.isWord()) {
            dirs.append(value);
        } else if (name == u"--unlabelled") {
            unlabelledOnly = true;
        } else if (name == u"--confirmed") {
            confirmed = true;
        } else if (name == u"--add-classes") {
            addClasses = true;
        } else if (serverOptions.contains(name)) {
            if (const QString problem = servers.take(name, value); !problem.isEmpty())
                return problem;
        } else if (name == u"--shard") {
            const QStringList parts = value.split(QLatin1Char('/'));
            if (parts.size() != 2 || !Cli::parseInt(parts.at(1), 1, kMaxShards, shardCount)
                || !Cli::parseInt(parts.at(0), 1, shardCount, shard))
                return translateText("分片无效：%1（K/N，1 <= K <= N）").arg(value);
        } else if (name == u"--progress") {
            if (value != u"jsonl")
                return translateText("进度格式无效：%1（jsonl）").arg(value);
            progressLines = true;
        } else if (name == u"--prompt") {
            prompt = value;
        } else if (name == u"--classes") {
            classes = Cli::classList(value);
        } else if (name == u"--min-score") {
            bool ok = false;
            minScore = value.toDouble(&ok);
            if (!ok || !std::isfinite(minScore) || minScore < 0.0 || minScore > 1.0)
                return translateText("置信度无效：%1（0 到 1）").arg(value);
        } else {
            if (value != u"voc" && value != u"yolo")
                return translateText("格式无效：%1（voc 或 yolo）").arg(value);
            useYolo = value == u"yolo";
            formatGiven = true;
        }
    }
    if (!servers.given)
        return translateText("必须给出 --server");
    if (addClasses && !confirmed)
        return translateText("--add-classes 需要 --confirmed");
    if (dirs.size() != 1)
        return dirs.isEmpty() ? translateText("没有给出目录") : translateText("只能给一个目录");
    dir = dirs.first();
    return QString();
}
