#include "canvas/shapetool.h"

#include "canvas/annotationscene.h"
#include "shared/theme.h"

#include <QGraphicsRectItem>
#include <QPen>

QGraphicsRectItem *addBandItem(AnnotationScene *scene, bool selection)
{
    auto *item = new QGraphicsRectItem;
    QPen pen(Theme::accent, selection ? 1.0 : 1.6);
    pen.setCosmetic(true);
    if (selection)
        pen.setStyle(Qt::DashLine);
    QColor fill = Theme::accent;
    fill.setAlpha(selection ? 25 : 30);
    item->setPen(pen);
    item->setBrush(fill);
    item->setZValue(1000);
    item->setAcceptedMouseButtons(Qt::NoButton);
    item->hide();
    scene->addItem(item);
    return item;
}
