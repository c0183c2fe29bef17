#include "canvas/rotated/rotatedboxtool.h"

#include "canvas/annotationscene.h"
#include "shared/language.h"

#include <QGraphicsRectItem>

RotatedBoxTool::RotatedBoxTool(AnnotationScene *scene)
    : ShapeTool(scene)
{
}

RotatedBoxTool::~RotatedBoxTool()
{
    delete m_band;
}

bool RotatedBoxTool::pressDraws(Qt::KeyboardModifiers modifiers) const
{
    return modifiers & Qt::ShiftModifier;
}

bool RotatedBoxTool::press(const QPointF &pos, Qt::KeyboardModifiers modifiers)
{
    if (!pressDraws(modifiers) && m_scene->shapeItemAt(pos))
        return false;
    if (!m_band)
        m_band = addBandItem(m_scene, false);
    m_drawing = true;
    m_start = pos;
    m_band->setRect(QRectF(pos, QSizeF(0, 0)));
    m_band->show();
    return true;
}

bool RotatedBoxTool::move(const QPointF &pos)
{
    if (!m_drawing)
        return false;
    m_band->setRect(QRectF(m_start, pos).normalized());
    return true;
}

bool RotatedBoxTool::release(const QPointF &pos)
{
    if (!m_drawing)
        return false;
    m_drawing = false;
    m_band->hide();
    const double s = m_scene->viewScale();
    const QRectF r = QRectF(m_start, pos).normalized().intersected(m_scene->imageRect());
    if (r.width() * s < 3 || r.height() * s < 3) {
        m_scene->clearSelection();
        return true;
    }
    Annotation draft;
    draft.kind = Annotation::Rotated;
    draft.points = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    draft.rect = r;
    emit m_scene->shapeDrafted(draft);
    return true;
}

void RotatedBoxTool::cancel()
{
    m_drawing = false;
    if (m_band)
        m_band->hide();
}

QString RotatedBoxTool::hint() const
{
    return translateText("拖出框后用上方手柄或 Z / X 旋转（Shift 每次15°）");
}

QString RotatedBoxTool::nextCategoryText() const
{
    return translateText("下一个旋转框的类别：%1");
}
