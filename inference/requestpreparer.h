#pragma once

#include "inference/preparedrequest.h"
#include "inference/requestjob.h"

#include <QObject>

#include <atomic>

class QThreadPool;

// Builds chat requests on worker threads so that decoding a large photo never stalls the owner's
// thread. prepare() and dropAll() run on the owner's thread; the build runs only on the pool's
// workers, which read the job copy and the drop mark and nothing else. Each job that is not dropped
// ends in exactly one prepared signal, queued to the owner's thread.
class RequestPreparer : public QObject
{
    Q_OBJECT

public:
    explicit RequestPreparer(QObject *parent = nullptr);
    ~RequestPreparer() override;   // waits for the builds that already started

    void prepare(const RequestJob &job);
    // Jobs with a lower ticket are skipped or not signalled; one that is just finishing may still
    // be, so the owner matches every result against the tickets it waits for.
    void dropBefore(quint64 ticket);
    // Drops everything and waits until no worker runs.
    void shutdown();

signals:
    void prepared(const PreparedRequest &request);

private:
    QThreadPool *m_pool;
    std::atomic<quint64> m_dropBefore{0};
};
