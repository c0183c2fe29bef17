#include "storage/pendingfileloader.h"

PendingFileLoader::PendingFileLoader(QObject *parent)
    : QThread(parent)
{
    registerAnnotationMetaTypes();
}

PendingFileLoader::~PendingFileLoader()
{
    wait();
}

void PendingFileLoader::load(const QString &dir)
{
    wait();
    m_dir = dir;
    start();
}

void PendingFileLoader::run()
{
    bool readable = true;
    const AnnotationCache pending = readPendingFile(m_dir, &readable);
    emit loaded(m_dir, pending, readable);
}
