#pragma once

#include <QByteArray>
#include <QObject>

class QNetworkReply;

// Reads the body of one reply within a size cap and a deadline for the whole request, aborting
// the reply past either: a transfer time-out alone lets a server that trickles a byte now and then
// hold a request forever, and a body read without a cap lets a server fill the memory. At most
// maxBytes plus one read buffer (1 MiB) of a reply is held at any time, however late the owner's
// thread runs. Child of the reply; the reply's thread.
class BoundedReply : public QObject
{
    Q_OBJECT

public:
    enum class Stop {
        None,
        TooLarge,   // the body (or its announced length) passed maxBytes; the rest was never read
        Deadline,   // the request was still running at its deadline
    };

    BoundedReply(QNetworkReply *reply, qint64 maxBytes, int deadlineMs);

    // The reply that carries a BoundedReply, or null.
    static BoundedReply *of(QNetworkReply *reply);

    Stop stop() const { return m_stop; }
    // Everything read, the rest of a finished reply included; empty once stopped.
    QByteArray takeBody();

private:
    void limitNetworkBuffer();
    void readAvailable();
    void abortWith(Stop stop);

    QNetworkReply *m_reply;
    qint64 m_maxBytes;
    QByteArray m_body;
    Stop m_stop = Stop::None;
};
