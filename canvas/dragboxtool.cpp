#include "canvas/dragboxtool.h"

#include "canvas/annotationscene.h"

#include <QGraphicsRectItem>

DragBoxTool::~DragBoxTool()
{
    delete m_band;
}

bool DragBoxTool::pressDraws(Qt::KeyboardModifiers modifiers) const
{
    return modifiers & Qt::ShiftModifier;
}

bool DragBoxTool::press(const QPointF &pos, Qt::KeyboardModifiers modifiers)
{
    if (!pressDraws(modifiers) && m_scene->shapeItemAt(pos))
        return false;   // the item runs its own gesture
    if (!m_band)
        m_band = addBandItem(m_scene, false);
    m_drawing = true;
    m_start = pos;
    m_band->setRect(QRectF(pos, QSizeF(0, 0)));
    m_band->show();
    return true;
}

bool DragBoxTool::move(const QPointF &pos)
{
    if (!m_drawing)
        return false;
    m_band->setRect(QRectF(m_start, pos).normalized());
    return true;
}

bool DragBoxTool::release(const QPointF &pos)
{
    if (!m_drawing)
        return false;
    m_drawing = false;
    m_band->hide();
    const double s = m_scene->viewScale();
    const QRectF r = QRectF(m_start, pos).normalized().intersected(m_scene->imageRect());
    // Under three screen pixels it was a click, not a drag.
    if (r.width() * s < 3 || r.height() * s < 3) {
        m_scene->clearSelection();
        return true;
    }
    emit m_scene->shapeDrafted(draftFor(r));
    return true;
}

void DragBoxTool::cancel()
{
    m_drawing = false;
    if (m_band)
        m_band->hide();
}
