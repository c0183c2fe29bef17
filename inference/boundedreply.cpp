#include "inference/boundedreply.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

namespace {

const qint64 kReadBufferBytes = 1024 * 1024;

} // namespace

BoundedReply::BoundedReply(QNetworkReply *reply, qint64 maxBytes, int deadlineMs)
    : QObject(reply)
    , m_reply(reply)
    , m_maxBytes(maxBytes)
{
    setObjectName(QStringLiteral("boundedReply"));
    // Without a limit the network thread reads as fast as the server sends and queues it all for
    // this thread, however late this thread is to take it; with one it waits until the body read
    // so far has been taken. The limit reaches the network thread only once the request runs
    // there, and a redirect starts a new one: it is set at each start, before any data can come.
    // A GET starts inside get(), so setting it now is in time; a POST starts on the next pass of
    // this thread's event loop, just ahead of the queued call.
    limitNetworkBuffer();
    QMetaObject::invokeMethod(this, &BoundedReply::limitNetworkBuffer, Qt::QueuedConnection);
    connect(reply, &QNetworkReply::redirected, this, [this] {
        QMetaObject::invokeMethod(this, &BoundedReply::limitNetworkBuffer, Qt::QueuedConnection);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        // A body announced larger than the cap is refused before any of it is read.
        bool known = false;
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > m_maxBytes)
            abortWith(Stop::TooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, this, &BoundedReply::readAvailable);
    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this] { abortWith(Stop::Deadline); });
    connect(reply, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(deadlineMs);
}

BoundedReply *BoundedReply::of(QNetworkReply *reply)
{
    return reply ? reply->findChild<BoundedReply *>(QStringLiteral("boundedReply"), Qt::FindDirectChildrenOnly)
                 : nullptr;
}

QByteArray BoundedReply::takeBody()
{
    if (m_stop == Stop::None)
        readAvailable();
    return m_stop == Stop::None ? std::exchange(m_body, QByteArray()) : QByteArray();
}

void BoundedReply::limitNetworkBuffer()
{
    if (!m_reply->isFinished())
        m_reply->setReadBufferSize(kReadBufferBytes);
}

void BoundedReply::readAvailable()
{
    if (m_stop != Stop::None)
        return;
    // Read as it arrives, so that the reply's own buffer never holds more than a chunk.
    const qint64 available = m_reply->bytesAvailable();
    if (m_body.size() + available > m_maxBytes) {
        abortWith(Stop::TooLarge);
        return;
    }
    if (available <= 0)
        return;
    // Straight into the body: no second copy of the chunk is held on the way.
    const qsizetype had = m_body.size();
    m_body.resize(had + available);
    const qint64 got = m_reply->read(m_body.data() + had, available);
    m_body.resize(had + qMax<qint64>(got, 0));
}

void BoundedReply::abortWith(Stop stop)
{
    if (m_stop != Stop::None)
        return;
    m_stop = stop;
    m_body = QByteArray();
    // Emits finished at once; the owner of the reply sees stop() there.
    if (!m_reply->isFinished())
        m_reply->abort();
}
