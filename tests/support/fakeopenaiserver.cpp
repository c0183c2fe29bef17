#include "support/fakeopenaiserver.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int code)
{
    switch (code) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

QJsonObject FakeOpenAiServer::Request::json() const
{
    return QJsonDocument::fromJson(body).object();
}

FakeOpenAiServer::FakeOpenAiServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeOpenAiServer::onNewConnection);
}

bool FakeOpenAiServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeOpenAiServer::port() const
{
    return m_server->serverPort();
}

QString FakeOpenAiServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/v1").arg(port());
}

void FakeOpenAiServer::enqueue(const Answer &answer)
{
    m_script.append(answer);
}

void FakeOpenAiServer::setDefaultAnswer(const Answer &answer)
{
    m_default = answer;
}

void FakeOpenAiServer::setKeepAlive(bool keepAlive)
{
    m_keepAlive = keepAlive;
}

void FakeOpenAiServer::setAnswerFor(const QByteArray &path, const Answer &answer)
{
    m_byPath.insert(path, answer);
}

QList<FakeOpenAiServer::Request> FakeOpenAiServer::requestsFor(const QByteArray &path) const
{
    QList<Request> out;
    for (const Request &r : m_requests) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

FakeOpenAiServer::Answer FakeOpenAiServer::chat(const QString &content, int delayMs)
{
    return chatContent(content, delayMs);
}

FakeOpenAiServer::Answer FakeOpenAiServer::chatContent(const QJsonValue &content, int delayMs)
{
    const QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                              {QStringLiteral("content"), content}};
    const QJsonObject choice{{QStringLiteral("index"), 0}, {QStringLiteral("message"), message}};
    const QJsonObject body{{QStringLiteral("id"), QStringLiteral("chatcmpl-1")},
                           {QStringLiteral("object"), QStringLiteral("chat.completion")},
                           {QStringLiteral("choices"), QJsonArray{choice}}};
    Answer a;
    a.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    a.delayMs = delayMs;
    return a;
}

FakeOpenAiServer::Answer FakeOpenAiServer::status(int code, const QByteArray &body, int delayMs)
{
    Answer a;
    a.status = code;
    a.body = body;
    a.delayMs = delayMs;
    return a;
}

FakeOpenAiServer::Answer FakeOpenAiServer::closeWithoutAnswer(int delayMs)
{
    Answer a;
    a.action = Answer::Close;
    a.delayMs = delayMs;
    return a;
}

FakeOpenAiServer::Answer FakeOpenAiServer::neverAnswer()
{
    Answer a;
    a.action = Answer::Hang;
    return a;
}

FakeOpenAiServer::Answer FakeOpenAiServer::trickle(int intervalMs)
{
    Answer a;
    a.action = Answer::Trickle;
    a.delayMs = intervalMs;
    return a;
}

FakeOpenAiServer::Answer FakeOpenAiServer::endless(bool declareLength)
{
    Answer a;
    a.action = Answer::Endless;
    a.declareLength = declareLength;
    return a;
}

void FakeOpenAiServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            finishOpen(socket);   // the client gave up on it
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeOpenAiServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    Connection &c = it.value();
    c.buffer += socket->readAll();
    if (c.handled)
        return;
    const qsizetype headerEnd = c.buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = c.buffer.left(headerEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length").toLongLong();
    if (c.buffer.size() < headerEnd + 4 + length)
        return;
    request.body = c.buffer.mid(headerEnd + 4, length);
    c.buffer.remove(0, headerEnd + 4 + length);
    c.handled = true;
    c.open = true;
    ++m_open;
    m_maxOpen = qMax(m_maxOpen, m_open);
    m_requests.append(request);

    const auto byPath = m_byPath.constFind(request.path);
    const Answer answer = byPath != m_byPath.cend() ? byPath.value()
                          : m_script.isEmpty()      ? m_default
                                                    : m_script.takeFirst();
    emit requestReceived(int(m_requests.size() - 1));
    if (answer.action == Answer::Hang)
        return;
    if (answer.action == Answer::Trickle || answer.action == Answer::Endless) {
        stream(socket, answer);
        return;
    }
    if (answer.delayMs <= 0) {
        act(socket, answer);
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(answer.delayMs, Qt::PreciseTimer, this, [this, guard, answer] {
        if (guard)
            act(guard, answer);
    });
}

void FakeOpenAiServer::act(QTcpSocket *socket, const Answer &answer)
{
    if (!m_connections.contains(socket))
        return;
    finishOpen(socket);
    const bool keepOpen = m_keepAlive && answer.action == Answer::Respond;
    if (answer.action == Answer::Respond) {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status)
            + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(answer.body.size())
            + (keepOpen ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n");
        socket->write(head + answer.body);
    }
    if (!keepOpen) {
        socket->disconnectFromHost();
        return;
    }
    m_connections[socket].handled = false;
    if (!m_connections[socket].buffer.isEmpty())
        onReadyRead(socket);   // the next request came in while this one waited
}

void FakeOpenAiServer::finishOpen(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end() || !it->open)
        return;
    it->open = false;
    --m_open;
}

void FakeOpenAiServer::stream(QTcpSocket *socket, const Answer &answer)
{
    const bool trickle = answer.action == Answer::Trickle;
    const bool chunked = !trickle && !answer.declareLength;
    // A trickle announces a plausible answer of a megabyte; an endless body 2 GiB.
    const qint64 length = trickle ? qint64(1) << 20 : qint64(1) << 31;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                  + (chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                             : "Content-Length: " + QByteArray::number(length) + "\r\n")
                  + "Connection: close\r\n\r\n");
    QPointer<QTcpSocket> guard(socket);
    if (trickle) {
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, this, [this, guard] {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return;
            guard->write(" ");
            ++m_streamed;
        });
        timer->start(answer.delayMs);
        return;
    }
    // As fast as the client reads: a few chunks are kept queued, never more.
    const QByteArray block(64 * 1024, ' ');
    const auto refill = [this, guard, chunked, block] {
        while (guard && guard->state() == QAbstractSocket::ConnectedState && guard->bytesToWrite() < 1024 * 1024) {
            guard->write(chunked ? QByteArray::number(block.size(), 16) + "\r\n" + block + "\r\n" : block);
            m_streamed += block.size();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, this, refill);
    refill();
}
