#include "ui/imageprefetcher.h"

#include "storage/threadpriority.h"

#include <QThread>

using Token = std::shared_ptr<std::atomic<bool>>;

// Decodes on its own thread; a request cancelled before its turn is answered unread.
class PrefetchWorker : public QObject
{
    Q_OBJECT
public:
    explicit PrefetchWorker(bool background) : m_background(background) {}

    // Run only on the worker's thread.
    void decode(const QString &path, const QSize &fitInto, const ImageAdjustment &adjustment, const Token &token)
    {
        if (m_background && !m_lowered) {
            lowerCurrentThreadPriority();
            m_lowered = true;
        }
        if (token && token->load()) {
            DecodedImage skipped;
            skipped.path = path;
            skipped.fitInto = fitInto;
            emit decoded(skipped, token);
            return;
        }
        // Neighbours are decoded ahead: a huge one waits until it is shown.
        DecodedImage image = decodeImage(path, fitInto, m_background ? DecodeUse::Background : DecodeUse::Shown);
        image.setAdjustment(adjustment);   // here, not on the GUI thread
        emit decoded(image, token);
    }

    // Run only on the worker's thread.
    void adjust(DecodedImage image, const ImageAdjustment &adjustment, const Token &token)
    {
        if (!token->load())
            image.setAdjustment(adjustment);
        emit decoded(image, token);
    }

signals:
    void decoded(const DecodedImage &image, const Token &token);

private:
    bool m_background;
    bool m_lowered = false;
};

ImagePrefetcher::ImagePrefetcher(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<DecodedImage>("DecodedImage");
    qRegisterMetaType<Token>("Token");
    for (int i = 0; i < kWorkers; ++i) {
        m_threads[i] = new QThread(this);
        m_workers[i] = new PrefetchWorker(true);
        m_workers[i]->moveToThread(m_threads[i]);
        connect(m_threads[i], &QThread::finished, m_workers[i], &QObject::deleteLater);
        connect(m_workers[i], &PrefetchWorker::decoded, this, &ImagePrefetcher::receive, Qt::QueuedConnection);
        m_threads[i]->setObjectName(QStringLiteral("image prefetch"));
        m_threads[i]->start(QThread::LowPriority);
    }
    // The user waits for full detail: not behind the neighbours, not at low priority.
    m_detailThread = new QThread(this);
    m_detailWorker = new PrefetchWorker(false);
    m_detailWorker->moveToThread(m_detailThread);
    connect(m_detailThread, &QThread::finished, m_detailWorker, &QObject::deleteLater);
    connect(m_detailWorker, &PrefetchWorker::decoded, this, [this](const DecodedImage &image) {
        if (!image.isNull())
            emit fullResolutionReady(image);
    }, Qt::QueuedConnection);
    m_detailThread->setObjectName(QStringLiteral("image detail"));
    m_detailThread->start();
}

ImagePrefetcher::~ImagePrefetcher()
{
    for (const Request &request : std::as_const(m_requests))
        request.cancelled->store(true);
    for (QThread *thread : m_threads) {
        thread->quit();
        thread->wait();
    }
    m_detailThread->quit();
    m_detailThread->wait();
}

void ImagePrefetcher::prefetch(const QStringList &paths, const QSize &fitInto)
{
    // Requests for images no longer wanted, or for another size, give way.
    const QStringList queued = m_requests.keys();
    for (const QString &path : queued) {
        if (!paths.contains(path) || m_requests.value(path).fitInto != fitInto)
            cancel(path);
    }
    for (const QString &path : paths) {
        m_order.removeAll(path);
        m_order.append(path);
        if (!cached(path, fitInto).isNull() || m_requests.contains(path))
            continue;
        const auto booked = enqueue(path, fitInto);
        PrefetchWorker *worker = booked.first;
        const Token token = booked.second;
        QMetaObject::invokeMethod(worker, [worker, path, fitInto, a = m_adjustment, token] {
            worker->decode(path, fitInto, a, token);
        }, Qt::QueuedConnection);
    }
    // The wanted ones are at the end of m_order; forget the oldest beyond the capacity.
    while (m_order.size() > kCapacity)
        m_images.remove(m_order.takeFirst());
}

std::pair<PrefetchWorker *, Token> ImagePrefetcher::enqueue(const QString &path, const QSize &fitInto)
{
    // The worker with less to do takes it.
    int worker = 0;
    for (int i = 1; i < kWorkers; ++i) {
        if (m_queued[i] < m_queued[worker])
            worker = i;
    }
    const Token token = std::make_shared<std::atomic<bool>>(false);
    m_requests.insert(path, Request{token, fitInto, worker});
    ++m_queued[worker];
    return {m_workers[worker], token};
}

void ImagePrefetcher::setAdjustment(const ImageAdjustment &adjustment)
{
    m_adjustment = adjustment;
    for (auto it = m_images.cbegin(); it != m_images.cend(); ++it) {
        if (it->adjustment == adjustment || m_requests.contains(it.key()))
            continue;
        const auto booked = enqueue(it.key(), it->fitInto);
        PrefetchWorker *worker = booked.first;
        const Token token = booked.second;
        QMetaObject::invokeMethod(worker, [worker, image = *it, adjustment, token] {
            worker->adjust(image, adjustment, token);
        }, Qt::QueuedConnection);
    }
}

void ImagePrefetcher::requestFullResolution(const QString &path, const QSize &fitInto)
{
    QMetaObject::invokeMethod(m_detailWorker, [w = m_detailWorker, path, fitInto, a = m_adjustment] {
        w->decode(path, fitInto, a, Token());
    }, Qt::QueuedConnection);
}

DecodedImage ImagePrefetcher::cached(const QString &path, const QSize &fitInto) const
{
    const auto it = m_images.constFind(path);
    if (it == m_images.constEnd())
        return {};
    // Pixels chosen for a smaller canvas would look blurred on this one.
    if (it->isFullResolution() || it->fitInto == fitInto)
        return *it;
    // A few pixels less than asked for do not show: the decoder rounds up to whole steps anyway.
    const QSize &held = it->fitInto;
    if (held.isValid() && held.width() * 10 >= fitInto.width() * 9 && held.height() * 10 >= fitInto.height() * 9)
        return *it;
    return {};
}

void ImagePrefetcher::insert(const DecodedImage &image)
{
    if (image.isNull())
        return;
    cancel(image.path);   // decoded already: a queued decode of it would only cost time
    m_images.insert(image.path, image);
    m_order.removeAll(image.path);
    m_order.append(image.path);
    while (m_order.size() > kCapacity)
        m_images.remove(m_order.takeFirst());
}

void ImagePrefetcher::forget(const QString &path)
{
    cancel(path);
    m_images.remove(path);
    m_order.removeAll(path);
}

void ImagePrefetcher::clear()
{
    const QStringList queued = m_requests.keys();
    for (const QString &path : queued)
        cancel(path);
    m_images.clear();
    m_order.clear();
}

void ImagePrefetcher::cancel(const QString &path)
{
    const auto it = m_requests.find(path);
    if (it == m_requests.end())
        return;
    it->cancelled->store(true);
    --m_queued[it->worker];
    m_requests.erase(it);
}

void ImagePrefetcher::receive(const DecodedImage &image, const Token &token)
{
    // Answers to cancelled requests were given up already.
    const auto it = m_requests.find(image.path);
    if (it == m_requests.end() || it->cancelled != token)
        return;
    --m_queued[it->worker];
    m_requests.erase(it);
    if (image.isNull() || !m_order.contains(image.path))
        return;
    const DecodedImage held = m_images.value(image.path);
    // A held image stays unless it is coarse, or this one carries the setting that it lacks.
    const bool heldFits = !held.isNull() && !held.coarse && (held.isFullResolution() || held.fitInto == image.fitInto);
    if (heldFits && (held.adjustment == m_adjustment || image.adjustment != m_adjustment))
        return;
    m_images.insert(image.path, image);
}

#include "imageprefetcher.moc"
