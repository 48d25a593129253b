#include "cguard.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "lock_probe.h"

static_assert(!std::is_copy_constructible<CCriticalSectionGuard>::value, "a mutex must not be copied");
static_assert(!std::is_copy_assignable<CCriticalSectionGuard>::value, "a mutex must not be copied");

namespace
{
TEST(CCriticalSectionGuard, LockAndUnlockAlwaysReportSuccess)
{
    CCriticalSectionGuard guard;
    for (int i = 0; i < 100000; ++i)
    {
        ASSERT_EQ(guard.Lock(), TRUE);
        ASSERT_EQ(guard.Unlock(), TRUE);
    }
}

TEST(CCriticalSectionGuard, TwoThreadsRunTheirLockedSectionsOneAfterTheOther)
{
    CCriticalSectionGuard guard;
    const lockprobe::Result result =
        lockprobe::RunTwoThreads([&] { guard.Lock(); }, [&] { guard.Unlock(); });
    EXPECT_FALSE(result.bOverlapped);
    EXPECT_EQ(result.lCount, 2 * 20000);
}
} // namespace
