#include "session/categoryorder.h"

#include "storage/classnames.h"
#include "storage/datasetlayout.h"

QStringList datasetClassList(const QString &imagePath)
{
    if (imagePath.isEmpty())
        return {};
    const ClassNames found = findClassNames(labelsDirFor(imagePath));
    QStringList names;
    for (const QString &name : found.names) {
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

QStringList categoryOrder(const QStringList &classList, const QStringList &known)
{
    QStringList order = classList;
    for (const QString &name : known) {
        if (!name.isEmpty() && !order.contains(name))
            order.append(name);
    }
    return order;
}
