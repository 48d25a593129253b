#include "cguard.h"

// The guard reports nothing: its users treat Lock() and Unlock() as always
// successful, and a default mutex has no failure worth reporting short of
// misuse (unlocking a mutex another thread holds). The POSIX results are
// therefore deliberately dropped.

CCriticalSectionGuard::CCriticalSectionGuard()
{
    (void)pthread_mutex_init(&m_mutex, nullptr);
}

CCriticalSectionGuard::~CCriticalSectionGuard()
{
    (void)pthread_mutex_destroy(&m_mutex);
}

BOOLEAN CCriticalSectionGuard::Lock()
{
    (void)pthread_mutex_lock(&m_mutex);
    return TRUE;
}

BOOLEAN CCriticalSectionGuard::Unlock()
{
    (void)pthread_mutex_unlock(&m_mutex);
    return TRUE;
}
