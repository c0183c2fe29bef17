#include "storage/pendingfileloader.h"

PendingFileLoader::PendingFileLoader(QObject *parent)
    : RestartableWorker([this](const QString &dir) { read(dir); }, parent)
{
    registerAnnotationMetaTypes();
    qRegisterMetaType<PendingFileState>("PendingFileState");
}

void PendingFileLoader::load(const QString &dir)
{
    const bool preloaded = dir == m_preloaded;
    m_preloaded.clear();
    if (preloaded)
        return;
    // A read is not stopped halfway: restart waits for it.
    restart(dir);
}

void PendingFileLoader::preload(const QString &dir)
{
    load(dir);
    m_preloaded = dir;
}

void PendingFileLoader::read(const QString &dir)
{
    bool readable = true;
    const PendingFileState state = readPendingFileState(dir, &readable);
    emit loaded(dir, state, readable);
}
