// The two lock classes: KVMutex (throws on failure) and the INI module's
// CCriticalSectionGuard (always reports success).
#include "kvmutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>

#include "cguard.h"

static_assert(!std::is_copy_constructible<KVMutex>::value && !std::is_copy_assignable<KVMutex>::value,
              "a mutex must not be copied");
static_assert(!std::is_copy_constructible<CCriticalSectionGuard>::value &&
                  !std::is_copy_assignable<CCriticalSectionGuard>::value,
              "a mutex must not be copied");

namespace
{
// Two threads enter a section guarded by lock()/unlock() many times and
// report whether they were ever inside together. The section yields while
// inside, so an unguarded section is entered by both at once almost at once;
// the count, bumped by read-then-write inside, shows lost updates.
template <typename LockFn, typename UnlockFn>
bool SectionsOverlap(LockFn lock, UnlockFn unlock, long* plCount = nullptr)
{
    std::atomic<int> iInside{0}, iReady{0};
    std::atomic<bool> bOverlapped{false};
    std::atomic<long> lCount{0}; // atomic only so that overlap is a lost update, not undefined behaviour
    auto body = [&] {
        ++iReady;
        while (iReady.load() < 2)
            std::this_thread::yield();
        for (int i = 0; i < 20000; ++i)
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
    std::thread first(body), second(body);
    first.join();
    second.join();
    if (plCount != nullptr)
        *plCount = lCount.load();
    return bOverlapped.load();
}

TEST(Locks, LockAndUnlockInTurnSucceedEveryTime)
{
    KVMutex mutex;
    CCriticalSectionGuard guard;
    for (int i = 0; i < 100000; ++i)
    {
        ASSERT_NO_THROW(EXPECT_TRUE(mutex.Lock()));
        ASSERT_NO_THROW(EXPECT_TRUE(mutex.Unlock()));
        ASSERT_EQ(guard.Lock(), TRUE);
        ASSERT_EQ(guard.Unlock(), TRUE);
    }
}

TEST(Locks, TwoThreadsRunTheirLockedSectionsOneAfterTheOther)
{
    long lCount = 0;
    KVMutex mutex;
    EXPECT_FALSE(SectionsOverlap([&] { mutex.Lock(); }, [&] { mutex.Unlock(); }, &lCount));
    EXPECT_EQ(lCount, 2 * 20000);
    CCriticalSectionGuard guard;
    EXPECT_FALSE(SectionsOverlap([&] { guard.Lock(); }, [&] { guard.Unlock(); }, &lCount));
    EXPECT_EQ(lCount, 2 * 20000);
    // The probe can fail: without a lock the sections overlap.
    EXPECT_TRUE(SectionsOverlap([] {}, [] {}));
}
} // namespace
