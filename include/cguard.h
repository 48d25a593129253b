// The INI writer's lock: a plain POSIX mutex whose results are not examined.
#pragma once

#include <pthread.h>

#include "typedef.h"

class CCriticalSectionGuard
{
public:
    CCriticalSectionGuard();
    ~CCriticalSectionGuard();
    BOOLEAN Lock();
    BOOLEAN Unlock();

private:
    CCriticalSectionGuard(const CCriticalSectionGuard&) = delete;
    CCriticalSectionGuard& operator=(const CCriticalSectionGuard&) = delete;

    pthread_mutex_t m_mutex;
};
