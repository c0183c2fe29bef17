#pragma once

#include "ui/imagedecoder.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;
class PrefetchWorker;

// Decodes the images next to the one shown on a thread of its own, so that stepping to a
// neighbour only installs pixels that are ready. Keeps a handful of decoded images; the rest is
// forgotten as the user moves on. Owner's thread only; the worker gets copies by queued calls.
class ImagePrefetcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCapacity = 5;

    explicit ImagePrefetcher(QObject *parent = nullptr);
    ~ImagePrefetcher() override;

    // Decodes paths (most wanted first) for fitInto; requests still waiting are dropped. Images
    // already held for that size are kept, all others beyond the capacity are forgotten.
    void prefetch(const QStringList &paths, const QSize &fitInto);
    // Decodes path at full resolution; fullResolutionReady follows.
    void requestFullResolution(const QString &path);

    // A held image of path decoded for fitInto (or at full resolution), else a null one.
    DecodedImage cached(const QString &path, const QSize &fitInto) const;
    void insert(const DecodedImage &image);
    void forget(const QString &path);
    void clear();

signals:
    void fullResolutionReady(const DecodedImage &image);

private:
    void receive(const DecodedImage &image, quint64 generation, bool full);

    QThread *m_thread = nullptr;
    PrefetchWorker *m_worker = nullptr;   // lives on m_thread
    std::shared_ptr<std::atomic<quint64>> m_generation;
    QHash<QString, DecodedImage> m_images;
    QStringList m_order;   // least recently wanted first
};
