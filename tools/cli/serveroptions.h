#pragma once

#include "inference/serverconfig.h"
#include "inference/serverpool.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// How label and check reach the model: --server once per replica of one model, --model,
// --concurrency (per server) and --timeout, with the same limits for both commands.
struct ServerOptions
{
    ServerConfig server;    // the first --server; the model stays empty unless --model is given
    QStringList replicas;   // the base URLs of further --server options, in their order, each once
    bool given = false;     // at least one --server

    ServerOptions() { server.model.clear(); }

    // The options above; each takes a value.
    static QStringList names();
    // Takes one of names() with its value; returns what is wrong, or an empty string.
    QString take(const QString &name, const QString &value);
    QStringList baseUrls() const { return QStringList{server.baseUrl} + replicas; }
};

namespace Cli {

// The next server to probe goes first, the one that did not answer last: the model list comes
// from the first server that answers, and the others still serve when they come back.
void nextServerFirst(ServerConfig &server, QStringList &replicas);
// Each server's requests and failures, as the JSON array of a summary's "servers".
QByteArray serverCountsJson(const QList<ServerPool::Count> &counts);

} // namespace Cli
