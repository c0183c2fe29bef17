#include "support/serverthread.h"

ServerThread::ServerThread(const FakeOpenAiServer::Answer &defaultAnswer)
    : m_server(new FakeOpenAiServer)
{
    m_server->setDefaultAnswer(defaultAnswer);
    m_server->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_server, [this] { m_baseUrl = m_server->listen() ? m_server->baseUrl() : QString(); },
        Qt::BlockingQueuedConnection);
}

ServerThread::~ServerThread()
{
    QMetaObject::invokeMethod(m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

int ServerThread::requestCount() const
{
    int count = 0;
    QMetaObject::invokeMethod(
        m_server, [this, &count] { count = int(m_server->requests().size()); }, Qt::BlockingQueuedConnection);
    return count;
}

int ServerThread::openRequests() const
{
    int count = 0;
    QMetaObject::invokeMethod(
        m_server, [this, &count] { count = m_server->openRequests(); }, Qt::BlockingQueuedConnection);
    return count;
}
