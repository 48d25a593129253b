// The two lock classes: KVMutex (throws on failure) and the INI module's
// CCriticalSectionGuard (always reports success).
#include "kvmutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>

#include "cguard.h"

static_assert(!std::is_copy_constructible<KVMutex>::value && !std::is_copy_assignable<KVMutex>::value &&
                  !std::is_copy_constructible<CCriticalSectionGuard>::value &&
                  !std::is_copy_assignable<CCriticalSectionGuard>::value,
              "a mutex must not be copied");

namespace
{
constexpr long kRounds = 20000;

// Two threads enter a section guarded by lock()/unlock() many times; the
// result is how often they were inside together. The section yields while
// inside, so an unguarded section is entered by both at once almost at once;
// the count, bumped by read-then-write inside, shows lost updates.
template <typename LockFn, typename UnlockFn>
int Overlaps(LockFn lock, UnlockFn unlock, long* plCount)
{
    std::atomic<int> iInside{0}, iReady{0}, iOverlaps{0};
    std::atomic<long> lCount{0}; // atomic only so that overlap is a lost update, not undefined behaviour
    auto body = [&] {
        for (++iReady; iReady.load() < 2;)
            std::this_thread::yield();
        for (long i = 0; i < kRounds; ++i)
        {
            lock();
            iOverlaps += iInside.fetch_add(1) != 0 ? 1 : 0;
            const long lSeen = lCount.load();
            std::this_thread::yield();
            lCount.store(lSeen + 1);
            iInside.fetch_sub(1);
            unlock();
        }
    };
    std::thread first(body), second(body);
    first.join();
    second.join();
    *plCount = lCount.load();
    return iOverlaps.load();
}

TEST(Locks, TwoThreadsRunTheirLockedSectionsOneAfterTheOther)
{
    long lCount = 0;
    KVMutex mutex;
    EXPECT_EQ(0, Overlaps([&] { EXPECT_TRUE(mutex.Lock()); }, [&] { EXPECT_TRUE(mutex.Unlock()); }, &lCount));
    EXPECT_EQ(lCount, 2 * kRounds);
    CCriticalSectionGuard guard;
    EXPECT_EQ(0, Overlaps([&] { EXPECT_EQ(TRUE, guard.Lock()); }, [&] { EXPECT_EQ(TRUE, guard.Unlock()); }, &lCount));
    EXPECT_EQ(lCount, 2 * kRounds);
    // The probe can fail: without a lock the sections overlap.
    EXPECT_GT(Overlaps([] {}, [] {}, &lCount), 0);
}
} // namespace
