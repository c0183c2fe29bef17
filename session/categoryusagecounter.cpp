#include "session/categoryusagecounter.h"

#include "storage/annotationstore.h"
#include "storage/threadpriority.h"

#include <algorithm>

CategoryUsageCounter::CategoryUsageCounter(QObject *parent)
    : QThread(parent)
{
}

CategoryUsageCounter::~CategoryUsageCounter()
{
    requestStop();
    wait();
}

void CategoryUsageCounter::count(const QString &label, const QStringList &paths, const QString &skip)
{
    requestStop();
    wait();
    m_label = label;
    m_paths = paths;
    m_skip = skip;
    m_stop.store(false);
    start();
}

void CategoryUsageCounter::requestStop()
{
    m_stop.store(true);
}

bool CategoryUsageCounter::fileUses(const QString &imagePath, const QString &label)
{
    const QList<Annotation> stored = loadAnnotations(imagePath);
    return std::any_of(stored.cbegin(), stored.cend(), [&label](const Annotation &a) { return a.label == label; });
}

void CategoryUsageCounter::run()
{
    lowerCurrentThreadPriority();
    int files = 0;
    for (const QString &path : std::as_const(m_paths)) {
        if (m_stop.load())
            return;
        if (path != m_skip && fileUses(path, m_label))
            ++files;
    }
    emit counted(m_label, files);
}
