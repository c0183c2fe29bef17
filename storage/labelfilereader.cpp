#include "storage/labelfilereader.h"

#include "storage/datasetlayout.h"

#include <QFileInfo>
#include <QThreadPool>

LabelFileReader::LabelFileReader(QObject *parent)
    : QObject(parent)
    , m_pool(new QThreadPool(this))
    , m_latest(std::make_shared<std::atomic<quint64>>(0))
{
    m_pool->setMaxThreadCount(1);
}

LabelFileReader::~LabelFileReader()
{
    cancel();
    m_pool->waitForDone();
}

bool LabelFileReader::isLarge(const QString &imagePath)
{
    const FoundLabelFile found = findLabelFile(imagePath);
    if (found.path.isEmpty())
        return false;
    return (found.haveContent ? found.content.size() : QFileInfo(found.path).size()) > kLargeFileBytes;
}

void LabelFileReader::read(const QString &imagePath)
{
    const quint64 request = ++*m_latest;
    m_readingFor = imagePath;
    const std::shared_ptr<std::atomic<quint64>> latest = m_latest;
    m_pool->start([this, imagePath, request, latest] {
        if (latest->load() != request)
            return;   // stepped past before it started
        const StoredAnnotations stored = readStoredAnnotations(imagePath);
        // The destructor waits for this task, so this object is still there to receive the call.
        QMetaObject::invokeMethod(
            this,
            [this, imagePath, request, stored] {
                if (m_latest->load() != request)
                    return;
                m_readingFor.clear();
                emit labelsRead(imagePath, stored);
            },
            Qt::QueuedConnection);
    });
}

void LabelFileReader::cancel()
{
    ++*m_latest;
    m_readingFor.clear();
}
