#include "kvmutex.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "lock_probe.h"

static_assert(!std::is_copy_constructible<KVMutex>::value, "a mutex must not be copied");
static_assert(!std::is_copy_assignable<KVMutex>::value, "a mutex must not be copied");

namespace
{
TEST(KVMutex, LockAndUnlockInTurnNeverThrow)
{
    KVMutex mutex;
    for (int i = 0; i < 100000; ++i)
    {
        ASSERT_NO_THROW(EXPECT_TRUE(mutex.Lock()));
        ASSERT_NO_THROW(EXPECT_TRUE(mutex.Unlock()));
    }
}

TEST(KVMutex, ManyObjectsComeAndGoWithoutThrowing)
{
    for (int i = 0; i < 10000; ++i)
    {
        ASSERT_NO_THROW({
            KVMutex mutex;
            mutex.Lock();
            mutex.Unlock();
        });
    }
}

TEST(KVMutex, TwoThreadsRunTheirLockedSectionsOneAfterTheOther)
{
    KVMutex mutex;
    const lockprobe::Result result =
        lockprobe::RunTwoThreads([&] { mutex.Lock(); }, [&] { mutex.Unlock(); });
    EXPECT_FALSE(result.bOverlapped);
    EXPECT_EQ(result.lCount, 2 * 20000);
}

// Shows that the probe above can fail: without a lock the sections overlap.
TEST(KVMutex, ProbeDetectsSectionsRunWithoutALock)
{
    const lockprobe::Result result = lockprobe::RunTwoThreads([] {}, [] {});
    EXPECT_TRUE(result.bOverlapped);
}
} // namespace
