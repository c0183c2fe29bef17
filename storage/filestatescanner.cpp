#include "storage/filestatescanner.h"

#include "storage/annotationstore.h"
#include "storage/threadpriority.h"

#include <algorithm>

FileStateScanner::FileStateScanner(QObject *parent)
    : QThread(parent)
{
}

FileStateScanner::~FileStateScanner()
{
    requestStop();
    wait();
}

void FileStateScanner::restart(const QStringList &paths)
{
    m_stop.store(true);
    wait();
    m_paths = paths;
    m_stop.store(false);
    start();
}

void FileStateScanner::requestStop()
{
    m_stop.exchange(true);
}

void FileStateScanner::run()
{
    lowerCurrentThreadPriority();
    bool formatFound = false;
    for (const QString &path : std::as_const(m_paths)) {
        if (m_stop.load())
            return;
        LabelFormat format = LabelFormat::None;
        const int count = countAnnotations(path, &format);
        emit stateReady(path, std::max(0, count), count >= 0);
        if (!formatFound && format != LabelFormat::None) {
            formatFound = true;
            emit labelFormatFound(path, format == LabelFormat::Yolo);
        }
    }
}
