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
    // Set at once too: the request starts on the next event loop pass, and from there the limit
    // travels with it, so that no window is left in which a slow GUI thread lets it read freely.
    m_reply->setReadBufferSize(kReadBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        // Without a limit the network thread reads as fast as the server sends, whatever is taken
        // from it here; with one it waits until the body read so far has been taken. Set once the
        // request runs: a limit set before that does not reach the network thread.
        m_reply->setReadBufferSize(kReadBufferBytes);
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
    if (available > 0)
        m_body += m_reply->read(available);
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
