#include "storage/pendingfilewriter.h"

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
    waitForIdle();
}

void PendingFileWriter::write(const QString &dir, const AnnotationCache &cache)
{
    m_pool->start([this, dir, cache] {
        const bool ok = writePendingFile(dir, cache);
        emit written(dir, ok);
    });
}

void PendingFileWriter::waitForIdle()
{
    m_pool->waitForDone();
}
