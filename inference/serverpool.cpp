#include "inference/serverpool.h"

#include <algorithm>

void ServerPool::reset(const QStringList &baseUrls, int concurrencyEach)
{
    m_servers.clear();
    for (const QString &url : baseUrls) {
        Server server;
        server.count.baseUrl = url;
        m_servers.append(server);
    }
    m_concurrency = std::max(1, concurrencyEach);
}

int ServerPool::capacity(qint64 now) const
{
    int total = 0;
    for (const Server &server : m_servers)
        total += resting(server, now) ? 0 : m_concurrency;
    return total;
}

int ServerPool::pick(qint64 now) const
{
    int best = -1;
    for (int i = 0; i < m_servers.size(); ++i) {
        const Server &server = m_servers.at(i);
        if (resting(server, now) || server.inFlight >= m_concurrency)
            continue;
        if (best < 0 || server.inFlight < m_servers.at(best).inFlight)
            best = i;
    }
    return best;
}

void ServerPool::sent(int index)
{
    Server &server = m_servers[index];
    ++server.inFlight;
    ++server.count.requests;
}

void ServerPool::finished(int index, Outcome outcome, qint64 now)
{
    Server &server = m_servers[index];
    server.inFlight = std::max(0, server.inFlight - 1);
    if (outcome != Outcome::Answered)
        ++server.count.failed;
    if (outcome != Outcome::Down) {
        server.restMs = 0;
        server.downSince = -1;
        return;
    }
    if (server.downSince < 0)
        server.downSince = now;
    // The other requests that were in flight when it went down do not lengthen the rest.
    if (m_servers.size() < 2 || resting(server, now))
        return;
    server.restMs = server.restMs == 0 ? kFirstRestMs : std::min(server.restMs * 2, kLongestRestMs);
    server.restUntil = now + server.restMs;
}

bool ServerPool::allDownFor(qint64 ms, qint64 now) const
{
    if (m_servers.isEmpty())
        return false;
    return std::all_of(m_servers.cbegin(), m_servers.cend(),
                       [&](const Server &server) { return server.downSince >= 0 && now - server.downSince >= ms; });
}

qint64 ServerPool::nextWakeIn(qint64 now) const
{
    qint64 wake = -1;
    for (const Server &server : m_servers) {
        if (resting(server, now) && (wake < 0 || server.restUntil - now < wake))
            wake = server.restUntil - now;
    }
    return wake;
}

QList<ServerPool::Count> ServerPool::counts() const
{
    QList<Count> all;
    for (const Server &server : m_servers)
        all.append(server.count);
    return all;
}
