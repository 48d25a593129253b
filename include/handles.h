// Owning types for the handles every module takes: a file descriptor, a
// stdio stream, a directory stream, a heap block from malloc, and a held
// lock. Whatever path a function returns by, what it took is given back.
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cguard.h"
#include "kvmutex.h"

// A file descriptor, closed unless released. Close() reports what closing a
// written file reports (a write error may surface only there); the
// destructor's close is for paths whose result is already settled.
class UniqueFd
{
public:
    explicit UniqueFd(int iFd = -1) : m_iFd(iFd) {}
    ~UniqueFd() { (void)Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_iFd; }
    bool IsOpen() const { return m_iFd >= 0; }
    int Release()
    {
        const int iFd = m_iFd;
        m_iFd = -1;
        return iFd;
    }
    int Close() { return IsOpen() ? close(Release()) : 0; }
    void Reset(int iFd)
    {
        (void)Close();
        m_iFd = iFd;
    }

private:
    int m_iFd;
};

// The destructor's fclose is for paths whose result is already settled; a
// writer that must know whether its data reached the file closes
// release()'d streams itself.
struct FileCloser
{
    void operator()(std::FILE* fp) const { (void)std::fclose(fp); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

struct DirCloser
{
    void operator()(DIR* pDir) const { (void)closedir(pDir); } // read only: nothing to lose
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

struct MallocFree
{
    void operator()(void* pv) const { std::free(pv); }
};
template <typename T>
using UniqueMalloc = std::unique_ptr<T, MallocFree>;

// libcrypto's public keys and digest contexts (for signed updates); the
// deleters live with the module that uses them, so that no other module
// needs OpenSSL's headers.
struct evp_pkey_st;
struct evp_md_ctx_st;
struct PkeyFree
{
    void operator()(evp_pkey_st* pKey) const;
};
using UniquePkey = std::unique_ptr<evp_pkey_st, PkeyFree>;
struct MdCtxFree
{
    void operator()(evp_md_ctx_st* pContext) const;
};
using UniqueMdCtx = std::unique_ptr<evp_md_ctx_st, MdCtxFree>;

// The three kinds of lock, taken the same way. A default POSIX mutex and the
// INI guard fail only on misuse, so their results are not examined; KVMutex
// throws, and its exception must reach the lock's holder.
inline void Lock(pthread_mutex_t& mutex)
{
    (void)pthread_mutex_lock(&mutex);
}
inline void Unlock(pthread_mutex_t& mutex)
{
    (void)pthread_mutex_unlock(&mutex);
}
inline void Lock(CCriticalSectionGuard& guard)
{
    (void)guard.Lock();
}
inline void Unlock(CCriticalSectionGuard& guard)
{
    (void)guard.Unlock();
}
inline void Lock(KVMutex& mutex)
{
    (void)mutex.Lock();
}
inline void Unlock(KVMutex& mutex)
{
    (void)mutex.Unlock();
}

// Holds a lock for one scope.
template <typename Mutex>
class ScopedLock
{
public:
    explicit ScopedLock(Mutex& mutex) : m_mutex(mutex) { Lock(m_mutex); }
    ~ScopedLock() noexcept(false) { Unlock(m_mutex); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Mutex& m_mutex;
};
