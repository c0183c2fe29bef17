#pragma once

#include "storage/pendingfile.h"

#include <QObject>
#include <QString>

class QThreadPool;

// Writes pending results files off the GUI thread: each write waits for the disk, which a busy
// disk turns into a visible stall. write() and waitForIdle() belong to the owner's thread; the
// writes run one at a time on a worker, in the order asked for, each on its own copy of the cache.
class PendingFileWriter : public QObject
{
    Q_OBJECT
public:
    explicit PendingFileWriter(QObject *parent = nullptr);
    ~PendingFileWriter() override;   // finishes the writes asked for

    void write(const QString &dir, const AnnotationCache &cache);
    // Returns once every write asked for is on disk.
    void waitForIdle();

signals:
    // Queued to the owner's thread.
    void written(const QString &dir, bool ok);

private:
    QThreadPool *m_pool;
};
