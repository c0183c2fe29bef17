#include "session/categoryusagecounter.h"

#include "storage/annotationstore.h"
#include "storage/threadpriority.h"

#include <algorithm>

CategoryUsageCounter::CategoryUsageCounter(QObject *parent)
    : RestartableWorker([this](const CategoryUsageQuery &query) { countFiles(query); }, parent)
{
}

bool CategoryUsageCounter::fileUses(const QString &imagePath, const QString &label)
{
    const QList<Annotation> stored = loadAnnotations(imagePath);
    return std::any_of(stored.cbegin(), stored.cend(), [&label](const Annotation &a) { return a.label == label; });
}

void CategoryUsageCounter::countFiles(const CategoryUsageQuery &query)
{
    lowerCurrentThreadPriority();
    int files = 0;
    for (const QString &path : query.paths) {
        if (stopRequested())
            return;
        if (path != query.skip && fileUses(path, query.label))
            ++files;
    }
    emit counted(query.label, files);
}
