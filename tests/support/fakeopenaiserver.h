#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>

class QTcpServer;
class QTcpSocket;

// An OpenAI-compatible HTTP server inside the test process, on 127.0.0.1 and a free port.
// Each request gets the next scripted answer (or the default one) and is recorded with its body.
class FakeOpenAiServer : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        // Close: no byte of an answer. Qt's HTTP client resends such a request by itself a couple
        // of times before it reports the error, so one client request may arrive more than once.
        // Trickle: the head and then one byte of body every delayMs, never the end.
        // Endless: a body that never ends, sent as fast as the client takes it (chunked, or with
        // a Content-Length of 2 GiB when declareLength is set).
        enum Action { Respond, Close, Hang, Trickle, Endless };
        Action action = Respond;
        int status = 200;
        QByteArray body;
        int delayMs = 0;   // before responding or closing
        bool declareLength = false;
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers;   // names in lower case
        QByteArray body;
        QJsonObject json() const;
    };

    explicit FakeOpenAiServer(QObject *parent = nullptr);

    bool listen();
    quint16 port() const;
    QString baseUrl() const;   // "http://127.0.0.1:<port>/v1"

    void enqueue(const Answer &answer);
    void setDefaultAnswer(const Answer &answer);
    // Answered connections stay open for further requests, as real servers do (default: closed).
    void setKeepAlive(bool keepAlive);
    // Every request for this path (for example "/v1/models") gets this answer; the script is not used.
    void setAnswerFor(const QByteArray &path, const Answer &answer);
    const QList<Request> &requests() const { return m_requests; }
    QList<Request> requestsFor(const QByteArray &path) const;
    int openRequests() const { return m_open; }         // received and neither answered nor dropped
    int maxOpenRequests() const { return m_maxOpen; }

    // A 200 chat completion whose message content is the given text.
    static Answer chat(const QString &content, int delayMs = 0);
    // A 200 chat completion with a raw JSON value as the content (string or array of parts).
    static Answer chatContent(const QJsonValue &content, int delayMs = 0);
    static Answer status(int code, const QByteArray &body = QByteArray(), int delayMs = 0);
    static Answer closeWithoutAnswer(int delayMs = 0);
    static Answer neverAnswer();
    static Answer trickle(int intervalMs);
    static Answer endless(bool declareLength = false);

    // Body bytes sent by trickling and endless answers so far; readable from any thread.
    qint64 bytesStreamed() const { return m_streamed.load(); }

signals:
    void requestReceived(int index);

private:
    struct Connection
    {
        QByteArray buffer;
        bool open = false;       // a complete request waits for its answer
        bool handled = false;    // a request is being answered; unless kept alive, the last one
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void act(QTcpSocket *socket, const Answer &answer);
    void finishOpen(QTcpSocket *socket);
    void stream(QTcpSocket *socket, const Answer &answer);

    QTcpServer *m_server;
    QHash<QTcpSocket *, Connection> m_connections;
    QList<Answer> m_script;
    QHash<QByteArray, Answer> m_byPath;
    bool m_keepAlive = false;
    Answer m_default;
    QList<Request> m_requests;
    int m_open = 0;
    int m_maxOpen = 0;
    std::atomic<qint64> m_streamed{0};
};
