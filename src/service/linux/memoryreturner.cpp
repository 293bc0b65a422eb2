#include "memoryreturner.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

MemoryReturner::MemoryReturner(int intervalMs, QObject* parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, [] { returnUnused(); });
    m_timer.start(intervalMs);
}

bool MemoryReturner::returnUnused()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
    return true;
#else
    return false;
#endif
}
