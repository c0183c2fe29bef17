#pragma once

#include "support/fakeopenaiserver.h"

#include <QString>
#include <QThread>

// A FakeOpenAiServer on a thread of its own: it keeps answering and streaming while the test's
// thread is blocked. Its counts are asked on its thread.
class ServerThread
{
public:
    explicit ServerThread(const FakeOpenAiServer::Answer &defaultAnswer);
    ~ServerThread();
    ServerThread(const ServerThread &) = delete;
    ServerThread &operator=(const ServerThread &) = delete;

    bool isListening() const { return !m_baseUrl.isEmpty(); }
    QString baseUrl() const { return m_baseUrl; }
    // For connecting to its signals (queued to the receiver's thread); call nothing on it.
    FakeOpenAiServer *server() const { return m_server; }
    qint64 bytesStreamed() const { return m_server->bytesStreamed(); }
    int requestCount() const;
    int openRequests() const;

private:
    QThread m_thread;
    FakeOpenAiServer *m_server;
    QString m_baseUrl;
};
