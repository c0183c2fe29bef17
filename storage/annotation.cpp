#include "storage/annotation.h"

#include <QHash>

#include <cmath>

void registerAnnotationMetaTypes()
{
    qRegisterMetaType<Annotation>("Annotation");
    qRegisterMetaType<QList<Annotation>>("QList<Annotation>");
    qRegisterMetaType<QHash<QString, QList<Annotation>>>("AnnotationCache");
}

bool Annotation::hasFiniteGeometry() const
{
    using std::isfinite;
    // Edges too, not only the stored numbers: a finite left plus a finite width can overflow.
    if (!isfinite(rect.x()) || !isfinite(rect.y()) || !isfinite(rect.width()) || !isfinite(rect.height())
        || !isfinite(rect.x() + rect.width()) || !isfinite(rect.y() + rect.height()))
        return false;
    for (const QPointF &p : points) {
        if (!isfinite(p.x()) || !isfinite(p.y()))
            return false;
    }
    return true;
}
