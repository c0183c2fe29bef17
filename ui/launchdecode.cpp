#include "ui/launchdecode.h"

#include "session/timinglog.h"

#include <QMetaObject>

#include <utility>

LaunchDecode::LaunchDecode(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(0);   // one decode: its thread need not idle afterwards
}

LaunchDecode::~LaunchDecode()
{
    m_pool.waitForDone();
}

void LaunchDecode::begin(const QString &path, const QSize &fitInto)
{
    if (path.isEmpty() || m_closed.load(std::memory_order_acquire) || m_begun.exchange(true, std::memory_order_acq_rel))
        return;
    m_pool.start([this, path, fitInto] {
        const DecodedImage image = decodeImage(path, fitInto, DecodeUse::Shown);
        // Queued: a copy for the owner's thread; dropped with this object if it is gone by then.
        QMetaObject::invokeMethod(this, [this, image] { receive(image); }, Qt::QueuedConnection);
    });
}

void LaunchDecode::receive(const DecodedImage &image)
{
    m_arrived = true;
    logTiming(QStringLiteral("image decoded at launch ") + image.path);
    emit arrived(image, std::exchange(m_wanted, QString()));
}
