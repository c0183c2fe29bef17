#include "inference/requestpreparer.h"

#include "inference/requestbuilder.h"

#include <QThread>
#include <QThreadPool>

#include <limits>

RequestPreparer::RequestPreparer(QObject *parent)
    : QObject(parent)
    , m_pool(new QThreadPool(this))
{
    qRegisterMetaType<PreparedRequest>("PreparedRequest");
    // One core stays free for the owner's thread, which must keep drawing while photos decode.
    m_pool->setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));
}

RequestPreparer::~RequestPreparer()
{
    shutdown();
}

void RequestPreparer::prepare(const RequestJob &job)
{
    m_pool->start([this, job] {
        if (job.ticket < m_dropBefore.load())
            return;
        const PreparedRequest request = buildChatRequest(job);
        if (job.ticket < m_dropBefore.load())
            return;
        emit prepared(request);
    });
}

void RequestPreparer::dropBefore(quint64 ticket)
{
    if (ticket > m_dropBefore.load())
        m_dropBefore.store(ticket);
}

void RequestPreparer::shutdown()
{
    m_dropBefore.store(std::numeric_limits<quint64>::max());
    m_pool->clear();
    m_pool->waitForDone();
}
