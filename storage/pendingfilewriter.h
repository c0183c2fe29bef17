#pragma once

#include "storage/pendingfile.h"

#include <QObject>
#include <QString>

class QThreadPool;

// Writes pending results files off the GUI thread: each write waits for the disk, which a busy
// disk turns into a visible stall. sync() and waitForIdle() belong to the owner's thread; the
// writes run one at a time on a worker, in the order asked for, each on its own copies.
class PendingFileWriter : public QObject
{
    Q_OBJECT
public:
    explicit PendingFileWriter(QObject *parent = nullptr);
    ~PendingFileWriter() override;   // finishes the writes asked for; their signals are dropped

    // syncPendingFile on the worker: ours merged with what another program wrote since base.
    void sync(const QString &dir, const PendingFileState &base, const AnnotationCache &ours, bool write = true);
    // Returns once every write asked for is on disk and its signals have been emitted.
    void waitForIdle();

signals:
    // Emitted on the owner's thread, written first.
    void written(const QString &dir, bool ok);
    void synced(const QString &dir, const PendingSync &sync);

private:
    QThreadPool *m_pool;
};
