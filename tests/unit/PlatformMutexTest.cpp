// The provider's own mutex functions (CreateMutexA and friends on Windows, a
// robust pthread mutex elsewhere) and the critical section.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform.h"

namespace {

constexpr unsigned long kAbandoned = 0x80;

TEST(PlatformMutex, CreatedHeldByTheCallerAndRecursive) {
    void* mutex = nullptr;
    ASSERT_EQ(platform::osCreateMutex(&mutex), 0ul);
    ASSERT_NE(mutex, nullptr);
    // Held already: another thread cannot take it until we release.
    std::atomic<bool> taken{false};
    std::thread other([&] {
        EXPECT_EQ(platform::osLockMutex(mutex), 0ul);
        taken = true;
        EXPECT_EQ(platform::osUnlockMutex(mutex), 0ul);
    });
    platform::sleepMilliseconds(50);
    EXPECT_FALSE(taken.load());
    // The owner may lock again; two releases free it.
    EXPECT_EQ(platform::osLockMutex(mutex), 0ul);
    EXPECT_EQ(platform::osUnlockMutex(mutex), 0ul);
    EXPECT_FALSE(taken.load());
    EXPECT_EQ(platform::osUnlockMutex(mutex), 0ul);
    other.join();
    EXPECT_TRUE(taken.load());

    // Destroy releases once, so it expects the mutex held.
    ASSERT_EQ(platform::osLockMutex(mutex), 0ul);
    EXPECT_EQ(platform::osDestroyMutex(mutex), 0ul);
}

TEST(PlatformMutex, UnlockByANonOwnerFails) {
    void* mutex = nullptr;
    ASSERT_EQ(platform::osCreateMutex(&mutex), 0ul);
    unsigned long result = 0;
    std::thread other([&] { result = platform::osUnlockMutex(mutex); });
    other.join();
    EXPECT_NE(result, 0ul);
    EXPECT_EQ(platform::osDestroyMutex(mutex), 0ul);
}

TEST(PlatformMutex, AThreadEndingWhileHoldingItLeavesItAbandoned) {
    void* mutex = nullptr;
    ASSERT_EQ(platform::osCreateMutex(&mutex), 0ul);
    ASSERT_EQ(platform::osUnlockMutex(mutex), 0ul);
    std::thread holder([&] { EXPECT_EQ(platform::osLockMutex(mutex), 0ul); });
    holder.join();  // ends without releasing
    // The next owner gets it, with the abandoned-wait answer, and may use it.
    EXPECT_EQ(platform::osLockMutex(mutex), kAbandoned);
    EXPECT_EQ(platform::osUnlockMutex(mutex), 0ul);
    EXPECT_EQ(platform::osLockMutex(mutex), 0ul);
    EXPECT_EQ(platform::osDestroyMutex(mutex), 0ul);
}

TEST(PlatformCriticalSection, IsRecursiveAndExcludesOtherThreads) {
    platform::CriticalSection section;
    int counter = 0;
    section.enter();
    section.enter();
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) {
            section.enter();
            ++counter;
            section.leave();
        }
    });
    platform::sleepMilliseconds(20);
    EXPECT_EQ(counter, 0);
    section.leave();
    section.leave();
    other.join();
    EXPECT_EQ(counter, 1000);
}

}  // namespace
