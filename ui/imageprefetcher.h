#pragma once

#include "ui/imagedecoder.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <utility>

class QThread;
class PrefetchWorker;

// Decodes the images next to the one shown on threads of their own, so that stepping to a
// neighbour only installs pixels that are ready. Keeps a handful of decoded images; the rest is
// forgotten as the user moves on. Owner's thread only; the workers get copies by queued calls.
class ImagePrefetcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCapacity = 6;
    static constexpr int kWorkers = 2;

    explicit ImagePrefetcher(QObject *parent = nullptr);
    ~ImagePrefetcher() override;

    // Decodes paths (most wanted first) for fitInto. Decodes already under way for a path still
    // wanted go on (their result is kept); those no longer wanted are dropped. Images held for
    // that size are kept, all others beyond the capacity are forgotten.
    void prefetch(const QStringList &paths, const QSize &fitInto);
    // Decodes path at full resolution (or for fitInto when valid: a coarse image made good), on
    // a thread of its own and ahead of any prefetch; fullResolutionReady follows.
    void requestFullResolution(const QString &path, const QSize &fitInto = QSize());

    // Decodes from now on are shown under adjustment, applied on the decoding threads; images
    // held already are adjusted afresh there too, from their decoded pixels. Until then they
    // carry the setting they were made with (DecodedImage::adjustment).
    void setAdjustment(const ImageAdjustment &adjustment);

    // A held image of path decoded for fitInto (or at full resolution), else a null one.
    DecodedImage cached(const QString &path, const QSize &fitInto) const;
    void insert(const DecodedImage &image);
    void forget(const QString &path);
    void clear();

signals:
    void fullResolutionReady(const DecodedImage &image);

private:
    // One queued decode; cancelled once its path is no longer wanted.
    struct Request
    {
        std::shared_ptr<std::atomic<bool>> cancelled;
        QSize fitInto;
        int worker = 0;
    };

    // Books a request of path on the worker with less to do: the worker and the request's token.
    std::pair<PrefetchWorker *, std::shared_ptr<std::atomic<bool>>> enqueue(const QString &path, const QSize &fitInto);
    void receive(const DecodedImage &image, const std::shared_ptr<std::atomic<bool>> &token);
    void cancel(const QString &path);

    QThread *m_threads[kWorkers] = {};
    PrefetchWorker *m_workers[kWorkers] = {};   // each lives on its thread
    int m_queued[kWorkers] = {};                // requests handed to each and not answered
    QThread *m_detailThread = nullptr;
    PrefetchWorker *m_detailWorker = nullptr;
    QHash<QString, Request> m_requests;   // decodes under way or queued, by path
    QHash<QString, DecodedImage> m_images;
    QStringList m_order;   // least recently wanted first
    ImageAdjustment m_adjustment;
};
