#include "canvas/devicestamp.h"

#include <QPaintEngine>

#include <cmath>

namespace {
// Larger drawings are drawn directly: an image of their size would cost more than it saves.
constexpr int kMaxPixels = 256 * 256;
} // namespace

bool DeviceStamp::copyable(const QPainter *painter)
{
    const QTransform &world = painter->worldTransform();
    return painter->paintEngine() && painter->paintEngine()->type() == QPaintEngine::Raster
        && painter->device()->devicePixelRatioF() == 1.0 && !painter->viewTransformEnabled()
        && world.type() <= QTransform::TxScale && world.m11() > 0 && world.m22() > 0
        && painter->opacity() == 1.0 && painter->compositionMode() == QPainter::CompositionMode_SourceOver;
}

bool DeviceStamp::paint(QPainter *painter, const QRectF &bounds, double margin, bool changed,
                        const std::function<void(QPainter *)> &draw)
{
    if (changed)
        m_known = m_valid = false;
    if (!copyable(painter))
        return false;
    const QTransform world = painter->worldTransform();
    const QRectF device = world.mapRect(bounds).adjusted(-margin, -margin, margin, margin);
    // Only drawings wholly on the device: the raster engine clips what reaches past its edges
    // before dashing (which shifts the dashes) and rounds negative positions differently.
    const QPaintDevice *target = painter->device();
    if (device.left() < 0 || device.top() < 0 || device.right() > target->width()
        || device.bottom() > target->height() || device.width() * device.height() > kMaxPixels)
        return false;
    const QPoint origin(int(std::floor(device.left())), int(std::floor(device.top())));
    const QPointF offset = world.map(bounds.topLeft()) - QPointF(origin);
    if (!m_known || m_offset != offset || m_size != bounds.size() || m_scaleX != world.m11()
        || m_scaleY != world.m22() || m_hints != painter->renderHints()) {
        // Drawn directly the first time: while the zoom changes every repaint, a stamp would
        // only add its own drawing to each.
        m_offset = offset;
        m_size = bounds.size();
        m_scaleX = world.m11();
        m_scaleY = world.m22();
        m_hints = painter->renderHints();
        m_known = true;
        m_valid = false;
        return false;
    }
    if (!m_valid) {
        const QSize size(int(std::ceil(device.right())) - origin.x() + 1,
                         int(std::ceil(device.bottom())) - origin.y() + 1);
        if (m_image.size() != size)
            m_image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_image.fill(Qt::transparent);
        QPainter stamp(&m_image);
        stamp.setRenderHints(stamp.renderHints(), false);
        stamp.setRenderHints(m_hints, true);
        stamp.setWorldTransform(world * QTransform::fromTranslate(-origin.x(), -origin.y()));
        draw(&stamp);
        stamp.end();
        // A copy, so that the paint engine the image keeps once painted on is freed: it would
        // double the memory of every stamp.
        m_image = m_image.copy();
        m_valid = true;
    }
    painter->setWorldTransform(QTransform());
    painter->drawImage(origin, m_image);
    painter->setWorldTransform(world);
    return true;
}
