#pragma once

#include "storage/annotationstore.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThreadPool;

// Reads an image's label file on a thread of its own: a file of a million-point outline takes a
// quarter of a second to parse, which the window must not wait for. Only the latest request is
// reported; one asked for before it is skipped when it has not started, and dropped when it has.
// Owner's thread only; the read itself touches nothing but its own copies.
class LabelFileReader : public QObject
{
    Q_OBJECT
public:
    explicit LabelFileReader(QObject *parent = nullptr);
    ~LabelFileReader() override;   // waits for a read under way: it reports to this object

    // Files above this many bytes are read here; smaller ones read faster than a thread hand-off.
    static constexpr qint64 kLargeFileBytes = 256 * 1024;
    // True when the image's label file is worth reading off the owner's thread.
    static bool isLarge(const QString &imagePath);

    void read(const QString &imagePath);
    // Forgets the request under way: its result will not be reported.
    void cancel();
    // The image whose labels are being read; empty when none is.
    QString readingFor() const { return m_readingFor; }

signals:
    void labelsRead(const QString &imagePath, const StoredAnnotations &stored);

private:
    QThreadPool *m_pool;
    QString m_readingFor;
    // The number of the latest request; shared with the reads, which skip a stale one.
    std::shared_ptr<std::atomic<quint64>> m_latest;
};
