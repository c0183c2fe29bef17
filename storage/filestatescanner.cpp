#include "storage/filestatescanner.h"

#include "storage/annotationstore.h"
#include "storage/threadpriority.h"

#include <algorithm>

FileStateScanner::FileStateScanner(QObject *parent)
    : RestartableWorker([this](const QStringList &paths) { scan(paths); }, parent)
{
}

void FileStateScanner::scan(const QStringList &paths)
{
    lowerCurrentThreadPriority();
    bool formatFound = false;
    for (const QString &path : paths) {
        if (stopRequested())
            return;
        LabelFormat format = LabelFormat::None;
        const int count = countAnnotations(path, &format);
        emit stateReady(path, std::max(0, count), count >= 0);
        if (!formatFound && format != LabelFormat::None) {
            formatFound = true;
            emit labelFormatFound(path, format);
        }
    }
}
