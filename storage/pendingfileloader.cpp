#include "storage/pendingfileloader.h"

PendingFileLoader::PendingFileLoader(QObject *parent)
    : QThread(parent)
{
    registerAnnotationMetaTypes();
    qRegisterMetaType<PendingFileState>("PendingFileState");
}

PendingFileLoader::~PendingFileLoader()
{
    wait();
}

void PendingFileLoader::load(const QString &dir)
{
    const bool preloaded = dir == m_preloaded;
    m_preloaded.clear();
    if (preloaded)
        return;
    wait();
    m_dir = dir;
    start();
}

void PendingFileLoader::preload(const QString &dir)
{
    load(dir);
    m_preloaded = dir;
}

void PendingFileLoader::run()
{
    bool readable = true;
    const PendingFileState state = readPendingFileState(m_dir, &readable);
    emit loaded(m_dir, state, readable);
}
