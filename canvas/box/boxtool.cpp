#include "canvas/box/boxtool.h"

#include "canvas/annotationscene.h"
#include "shared/language.h"

#include <QGraphicsRectItem>

BoxTool::BoxTool(AnnotationScene *scene)
    : ShapeTool(scene)
{
}

BoxTool::~BoxTool()
{
    delete m_band;
}

bool BoxTool::pressDraws(Qt::KeyboardModifiers modifiers) const
{
    // Shift draws whatever lies under the press: a box that starts on another one (people in
    // front of cars, crowds) cannot be drawn otherwise.
    return modifiers & Qt::ShiftModifier;
}

bool BoxTool::press(const QPointF &pos, Qt::KeyboardModifiers modifiers)
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

bool BoxTool::move(const QPointF &pos)
{
    if (!m_drawing)
        return false;
    m_band->setRect(QRectF(m_start, pos).normalized());
    return true;
}

bool BoxTool::release(const QPointF &pos)
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
    draft.kind = Annotation::Rect;
    draft.rect = r;
    emit m_scene->shapeDrafted(draft);
    return true;
}

void BoxTool::cancel()
{
    m_drawing = false;
    if (m_band)
        m_band->hide();
}

QString BoxTool::nextCategoryText() const
{
    return translateText("下一个框的类别：%1");
}

QString BoxTool::hint() const
{
    return translateText("拖拽画框") + QStringLiteral(" · ") + translateText("Shift+拖框 在已有标注上新建");
}
