#pragma once

#include "storage/labelmefile.h"

#include <QGraphicsItem>
#include <QList>
#include <QSet>

// The shapes of another tool's file that are kept as they are (labelme's circles, lines, points,
// line strips, masks): drawn dimmed and dashed with their category, for reference only. The item
// takes no mouse button and is no shape item, so nothing selects, moves or deletes them.
class KeptShapesItem : public QGraphicsItem
{
public:
    enum { Type = UserType + 40 };

    KeptShapesItem();

    void setShapes(const QList<KeptShape> &shapes);
    QList<KeptShape> shapes() const { return m_shapes; }
    // Shapes of these categories are left out, as the scene hides theirs.
    void setHiddenLabels(const QSet<QString> &labels);
    void setViewScale(double scale);

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    QList<KeptShape> m_shapes;
    QSet<QString> m_hiddenLabels;
    QRectF m_bounds;   // of the points, in image pixels
    double m_scale = 1.0;
};
