#include "storage/threadpriority.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void lowerCurrentThreadPriority()
{
#ifdef Q_OS_LINUX
    // Per-thread niceness: Qt's thread priorities do nothing under the default scheduler.
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
#endif
}
