#include "tools/cli/serveroptions.h"

#include "inference/requestbuilder.h"
#include "shared/language.h"
#include "tools/cli/cliio.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const int kMaxTimeoutSeconds = 24 * 3600;
const int kMaxServers = 64;

} // namespace

QStringList ServerOptions::names()
{
    return {QStringLiteral("--server"), QStringLiteral("--model"), QStringLiteral("--concurrency"),
            QStringLiteral("--timeout")};
}

QString ServerOptions::take(const QString &name, const QString &value)
{
    if (name == u"--server") {
        const QString base = Cli::serverBaseUrl(value);
        if (base.isEmpty())
            return translateText("服务器地址无效：%1").arg(value);
        if (!given)
            server.baseUrl = base;
        else if (base != server.baseUrl && !replicas.contains(base))
            replicas.append(base);
        if (replicas.size() >= kMaxServers)
            return translateText("最多 %1 个服务器").arg(kMaxServers);
        given = true;
    } else if (name == u"--model") {
        if (value.trimmed().isEmpty())
            return translateText("--model 需要一个名字");
        server.model = value;
    } else if (name == u"--concurrency") {
        if (!Cli::parseInt(value, 1, kMaxConcurrency, server.concurrency))
            return translateText("并发数无效：%1（1 到 %2）").arg(value).arg(kMaxConcurrency);
    } else if (name == u"--timeout") {
        if (!Cli::parseInt(value, 1, kMaxTimeoutSeconds, server.timeout))
            return translateText("超时无效：%1（秒，1 到 %2）").arg(value).arg(kMaxTimeoutSeconds);
    }
    return QString();
}

namespace Cli {

void nextServerFirst(ServerConfig &server, QStringList &replicas)
{
    if (replicas.isEmpty())
        return;
    replicas.append(server.baseUrl);
    server.baseUrl = replicas.takeFirst();
}

QByteArray serverCountsJson(const QList<ServerPool::Count> &counts)
{
    QJsonArray servers;
    for (const ServerPool::Count &c : counts)
        servers.append(QJsonObject{{QStringLiteral("url"), c.baseUrl},
                                   {QStringLiteral("requests"), c.requests},
                                   {QStringLiteral("failed"), c.failed}});
    return QJsonDocument(servers).toJson(QJsonDocument::Compact);
}

} // namespace Cli
