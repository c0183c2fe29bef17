#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Replicas of one model behind several base URLs: which one takes the next request (the fewest in
// flight, each at most `concurrency`), and which ones rest after failing. A server that fails
// (no connection, 5xx, deadline) rests for a back-off that doubles with each outage step and is
// cleared by its next answer. A lone server never rests: its requests keep the client's own retry.
// Times are milliseconds of one clock, given by the caller. Value type, one thread.
class ServerPool
{
public:
    enum class Outcome {
        Answered,   // a usable answer
        Refused,    // an answer that was no use (4xx, no completion): the server itself is up
        Down,       // no connection, 5xx, deadline: the server rests
    };
    struct Count
    {
        QString baseUrl;
        int requests = 0;
        int failed = 0;
    };

    static constexpr qint64 kFirstRestMs = 500;
    static constexpr qint64 kLongestRestMs = 30000;

    void reset(const QStringList &baseUrls, int concurrencyEach);
    int size() const { return int(m_servers.size()); }
    QString baseUrl(int index) const { return m_servers.at(index).count.baseUrl; }
    // Slots of the servers not resting at now, busy ones included.
    int capacity(qint64 now) const;
    // The server for the next request: fewest in flight, a free slot, not resting; -1 for none.
    int pick(qint64 now) const;
    void sent(int index);
    void finished(int index, Outcome outcome, qint64 now);
    // Every server has failed since its last answer, the first of them at least ms ago.
    bool allDownFor(qint64 ms, qint64 now) const;
    // How long until the first rest ends; -1 when none rests.
    qint64 nextWakeIn(qint64 now) const;
    QList<Count> counts() const;

private:
    struct Server
    {
        Count count;
        int inFlight = 0;
        qint64 restMs = 0;
        qint64 restUntil = 0;
        qint64 downSince = -1;   // -1: up
    };
    bool resting(const Server &server, qint64 now) const { return server.restUntil > now; }

    QList<Server> m_servers;
    int m_concurrency = 1;
};
