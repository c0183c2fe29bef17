#include "canvas/polygon/polygontool.h"

#include "canvas/annotationscene.h"
#include "canvas/polygon/polydraftitem.h"
#include "shared/language.h"

#include <QLineF>

#include <cmath>

PolygonTool::PolygonTool(AnnotationScene *scene)
    : ShapeTool(scene)
{
}

PolygonTool::~PolygonTool()
{
    deleteDraftItem();
}

bool PolygonTool::pressDraws(Qt::KeyboardModifiers modifiers) const
{
    return !m_points.isEmpty() || (modifiers & Qt::ShiftModifier);
}

bool PolygonTool::press(const QPointF &pos, Qt::KeyboardModifiers modifiers)
{
    if (m_points.size() >= 3) {
        const QPointF d = pos - m_points.first();
        const double closeDistance = 8 / qMax(m_scene->viewScale(), 0.1);
        if (std::abs(d.x()) + std::abs(d.y()) <= closeDistance) {
            finish();
            return true;
        }
    }
    if (!pressDraws(modifiers) && m_scene->shapeItemAt(pos))
        return false;   // shapes stay editable until drafting starts
    addPoint(pos);
    return true;
}

bool PolygonTool::move(const QPointF &pos)
{
    if (m_points.isEmpty() || !m_draftItem)
        return false;
    m_draftItem->setPoints(QList<QPointF>(m_points) << pos);
    return true;
}

bool PolygonTool::doubleClick(const QPointF &pos)
{
    if (m_points.isEmpty())
        return false;
    addPoint(pos);
    finish();
    return true;
}

void PolygonTool::addPoint(const QPointF &pos)
{
    const QPointF p = m_scene->clampedToImage(pos);
    if (!m_points.isEmpty() && m_points.last() == p)
        return;
    m_points.append(p);
    if (!m_draftItem) {
        m_draftItem = new PolyDraftItem;
        m_draftItem->setZValue(1000);
        m_scene->addItem(m_draftItem);
    }
    m_draftItem->setPoints(m_points);
    if (m_points.size() == 1)
        emit m_scene->statusHint(translateText("多边形:左键加点 · 双击/Enter/点击起点闭合(≥3点) · Esc 取消"));
}

bool PolygonTool::finish()
{
    if (m_points.isEmpty())
        return false;
    emit m_scene->statusHint(QString());
    if (m_points.size() <= 2) {
        m_scene->cancelDrawing();
        return true;
    }
    QList<QPointF> points = m_points;
    const double s = m_scene->viewScale();
    // The second click of a double-click, then a closing click on the start point.
    if (points.size() > 3 && QLineF(points.last(), points.at(points.size() - 2)).length() * s < 6)
        points.removeLast();
    if (points.size() > 3 && QLineF(points.last(), points.first()).length() * s < 6)
        points.removeLast();
    if (points.size() <= 2) {
        m_scene->cancelDrawing();
        return true;
    }
    m_points.clear();
    deleteDraftItem();
    Annotation draft;
    draft.kind = Annotation::Polygon;
    draft.points = points;
    emit m_scene->shapeDrafted(draft);
    return true;
}

void PolygonTool::cancel()
{
    m_points.clear();
    deleteDraftItem();
}

void PolygonTool::deleteDraftItem()
{
    delete m_draftItem;
    m_draftItem = nullptr;
}

QString PolygonTool::nextCategoryText() const
{
    return translateText("下一个多边形的类别：%1");
}

QString PolygonTool::hint() const
{
    return translateText("点击加点画多边形") + QStringLiteral(" · ") + translateText("Shift+点击 在已有标注上加点");
}
