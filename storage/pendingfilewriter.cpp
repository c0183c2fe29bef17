#include "storage/pendingfilewriter.h"

#include <QCoreApplication>
#include <QThreadPool>

PendingFileWriter::PendingFileWriter(QObject *parent)
    : QObject(parent)
    , m_pool(new QThreadPool(this))
{
    // One worker: a later snapshot never lands before an earlier one.
    m_pool->setMaxThreadCount(1);
}

PendingFileWriter::~PendingFileWriter()
{
    m_pool->waitForDone();
}

void PendingFileWriter::sync(const QString &dir, const PendingFileState &base, const AnnotationCache &ours,
                             bool write)
{
    m_pool->start([this, dir, base, ours, write] {
        const PendingSync result = syncPendingFile(dir, base, ours, write);
        // Posted to this object on the owner's thread, where waitForIdle can deliver it at once.
        QMetaObject::invokeMethod(
            this,
            [this, dir, result] {
                emit written(dir, result.ok);
                emit synced(dir, result);
            },
            Qt::QueuedConnection);
    });
}

void PendingFileWriter::waitForIdle()
{
    m_pool->waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}
