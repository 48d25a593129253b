// A POSIX mutex whose failures become exceptions (const char* messages).
#pragma once

#include <pthread.h>

class KVMutex
{
public:
    KVMutex()
    {
        if (pthread_mutex_init(&m_mutex, nullptr) != 0)
            throw "Failed to create Mutex";
    }
    ~KVMutex() { (void)pthread_mutex_destroy(&m_mutex); }

    bool Lock()
    {
        if (pthread_mutex_lock(&m_mutex) != 0)
            throw "Failed to aquire lock!";
        return true;
    }
    bool Unlock()
    {
        if (pthread_mutex_unlock(&m_mutex) != 0)
            throw "Failed to release lock!";
        return true;
    }

private:
    KVMutex(const KVMutex&);
    KVMutex& operator=(const KVMutex&);

    pthread_mutex_t m_mutex;
};
