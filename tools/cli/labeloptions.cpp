#include "tools/cli/labeloptions.h"

#include "inference/requestbuilder.h"
#include "tools/cli/cliio.h"

#include <cmath>

namespace {

const int kMaxTimeoutSeconds = 24 * 3600;
const int kMaxShards = 100000;
const int kMaxServers = 64;

bool parseInt(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    value = v;
    return true;
}

} // namespace

QString LabelOptions::usage()
{
    return QStringLiteral("label --server URL [--server URL ...] [--shard K/N] [--progress jsonl] [--model NAME] [--concurrency N] [--timeout S] [--prompt TEXT] "
                          "[--classes a,b,...] [--min-score S] [--unlabelled] [--confirmed [--add-classes]] [--format voc|yolo] DIR");
}

QString LabelOptions::parse(const QStringList &args)
{
    server.model.clear();
    bool haveServer = false;
    QString error;
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args,
        {QStringLiteral("--server"), QStringLiteral("--model"), QStringLiteral("--concurrency"),
         QStringLiteral("--timeout"), QStringLiteral("--prompt"), QStringLiteral("--classes"),
         QStringLiteral("--min-score"), QStringLiteral("--format"), QStringLiteral("--shard"),
         QStringLiteral("--progress")},
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
        } else if (name == u"--server") {
            const QString base = Cli::serverBaseUrl(value);
            if (base.isEmpty())
                return QStringLiteral("bad server URL: %1").arg(value);
            if (!haveServer)
                server.baseUrl = base;
            else if (base != server.baseUrl && !replicas.contains(base))
                replicas.append(base);
            if (replicas.size() >= kMaxServers)
                return QStringLiteral("at most %1 servers").arg(kMaxServers);
            haveServer = true;
        } else if (name == u"--shard") {
            const QStringList parts = value.split(QLatin1Char('/'));
            if (parts.size() != 2 || !parseInt(parts.at(1), 1, kMaxShards, shardCount)
                || !parseInt(parts.at(0), 1, shardCount, shard))
                return QStringLiteral("bad shard: %1 (K/N, 1 <= K <= N)").arg(value);
        } else if (name == u"--progress") {
            if (value != u"jsonl")
                return QStringLiteral("bad progress: %1 (jsonl)").arg(value);
            progressLines = true;
        } else if (name == u"--model") {
            if (value.trimmed().isEmpty())
                return QStringLiteral("--model needs a name");
            server.model = value;
        } else if (name == u"--concurrency") {
            if (!parseInt(value, 1, kMaxConcurrency, server.concurrency))
                return QStringLiteral("bad concurrency: %1 (1 to %2)").arg(value).arg(kMaxConcurrency);
        } else if (name == u"--timeout") {
            if (!parseInt(value, 1, kMaxTimeoutSeconds, server.timeout))
                return QStringLiteral("bad timeout: %1 (seconds, 1 to %2)").arg(value).arg(kMaxTimeoutSeconds);
        } else if (name == u"--prompt") {
            prompt = value;
        } else if (name == u"--classes") {
            classes = Cli::classList(value);
        } else if (name == u"--min-score") {
            bool ok = false;
            minScore = value.toDouble(&ok);
            if (!ok || !std::isfinite(minScore) || minScore < 0.0 || minScore > 1.0)
                return QStringLiteral("bad score: %1 (0 to 1)").arg(value);
        } else {
            if (value != u"voc" && value != u"yolo")
                return QStringLiteral("bad format: %1 (voc or yolo)").arg(value);
            useYolo = value == u"yolo";
            formatGiven = true;
        }
    }
    if (!haveServer)
        return QStringLiteral("--server is required");
    if (addClasses && !confirmed)
        return QStringLiteral("--add-classes needs --confirmed");
    if (dirs.size() != 1)
        return dirs.isEmpty() ? QStringLiteral("no directory given") : QStringLiteral("one directory only");
    dir = dirs.first();
    return QString();
}
