#pragma once

#include <QGraphicsItem>
#include <QList>
#include <QPointF>

// Preview of a polygon being placed point by point; takes no mouse input.
class PolyDraftItem : public QGraphicsItem
{
public:
    enum { Type = UserType + 103 };

    explicit PolyDraftItem(QGraphicsItem *parent = nullptr);

    void setPoints(const QList<QPointF> &points);
    QList<QPointF> points() const { return m_points; }

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    int type() const override { return Type; }

private:
    QList<QPointF> m_points;
};
