#include "ui/imageprefetcher.h"

#include "storage/threadpriority.h"

#include <QThread>


// Decodes on its own thread; a request of an older generation is skipped unread.
class PrefetchWorker : public QObject
{
    Q_OBJECT
public:
    explicit PrefetchWorker(std::shared_ptr<std::atomic<quint64>> generation)
        : m_generation(std::move(generation))
    {
    }

    void decode(const QString &path, const QSize &fitInto, quint64 generation, bool full)
    {
        lowerPriorityOnce();
        if (!full && generation != m_generation->load())
            return;
        // Neighbours are decoded ahead: a huge one waits until it is shown.
        emit decoded(decodeImage(path, full ? QSize() : fitInto, full ? DecodeUse::Shown : DecodeUse::Background),
                     generation, full);
    }

signals:
    void decoded(const DecodedImage &image, quint64 generation, bool full);

private:
    void lowerPriorityOnce()
    {
        if (!m_lowered)
            lowerCurrentThreadPriority();
        m_lowered = true;
    }

    std::shared_ptr<std::atomic<quint64>> m_generation;
    bool m_lowered = false;
};

ImagePrefetcher::ImagePrefetcher(QObject *parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_generation(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<DecodedImage>("DecodedImage");
    m_worker = new PrefetchWorker(m_generation);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &PrefetchWorker::decoded, this, &ImagePrefetcher::receive, Qt::QueuedConnection);
    m_thread->setObjectName(QStringLiteral("image prefetch"));
    m_thread->start(QThread::LowPriority);
}

ImagePrefetcher::~ImagePrefetcher()
{
    m_generation->fetch_add(1);
    m_thread->quit();
    m_thread->wait();
}

void ImagePrefetcher::prefetch(const QStringList &paths, const QSize &fitInto)
{
    const quint64 generation = m_generation->fetch_add(1) + 1;
    for (const QString &path : paths) {
        m_order.removeAll(path);
        m_order.append(path);
        if (!cached(path, fitInto).isNull())
            continue;
        QMetaObject::invokeMethod(m_worker, [worker = m_worker, path, fitInto, generation] {
            worker->decode(path, fitInto, generation, false);
        }, Qt::QueuedConnection);
    }
    // The wanted ones are at the end of m_order; forget the oldest beyond the capacity.
    while (m_order.size() > kCapacity)
        m_images.remove(m_order.takeFirst());
}

void ImagePrefetcher::requestFullResolution(const QString &path)
{
    const quint64 generation = m_generation->load();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, path, generation] {
        worker->decode(path, QSize(), generation, true);
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
    m_images.insert(image.path, image);
    m_order.removeAll(image.path);
    m_order.append(image.path);
    while (m_order.size() > kCapacity)
        m_images.remove(m_order.takeFirst());
}

void ImagePrefetcher::forget(const QString &path)
{
    m_images.remove(path);
    m_order.removeAll(path);
}

void ImagePrefetcher::clear()
{
    m_generation->fetch_add(1);
    m_images.clear();
    m_order.clear();
}

void ImagePrefetcher::receive(const DecodedImage &image, quint64 generation, bool full)
{
    if (full) {
        if (!image.isNull())
            emit fullResolutionReady(image);
        return;
    }
    // Only results of the latest request are kept; they are still wanted.
    if (generation != m_generation->load() || image.isNull() || !m_order.contains(image.path))
        return;
    const DecodedImage held = m_images.value(image.path);
    if (!held.isNull() && held.isFullResolution())
        return;
    m_images.insert(image.path, image);
}

#include "imageprefetcher.moc"
