// Probe for mutual exclusion: two threads enter a section guarded by the
// lock under test many times and report whether they were ever inside it
// together. The section yields while inside, so an unguarded section is
// entered by both threads at once almost immediately.
#pragma once

#include <atomic>
#include <thread>

namespace lockprobe
{
struct Result
{
    bool bOverlapped;
    long lCount; // bumped by read-then-write inside the section: lost updates show overlap
};

template <typename LockFn, typename UnlockFn>
Result RunTwoThreads(LockFn lock, UnlockFn unlock, int iRounds = 20000)
{
    std::atomic<int> iInside{0};
    std::atomic<bool> bOverlapped{false};
    // Atomic only so that an unguarded run is a lost update, not undefined
    // behaviour; the increment itself is deliberately not atomic.
    std::atomic<long> lCount{0};
    std::atomic<int> iReady{0};
    auto body = [&] {
        // Both threads start together, not one after the other.
        ++iReady;
        while (iReady.load() < 2)
            std::this_thread::yield();
        for (int i = 0; i < iRounds; ++i)
        {
            lock();
            if (iInside.fetch_add(1) != 0)
                bOverlapped = true;
            const long lSeen = lCount.load();
            std::this_thread::yield();
            lCount.store(lSeen + 1);
            iInside.fetch_sub(1);
            unlock();
        }
    };
    std::thread first(body);
    std::thread second(body);
    first.join();
    second.join();
    return Result{bOverlapped.load(), lCount.load()};
}
} // namespace lockprobe
