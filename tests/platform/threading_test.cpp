#include <gtest/gtest.h>

#include <atomic>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"

namespace tavrel {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
    Event event(true);
    EXPECT_FALSE(event.Test());
    event.Set();
    EXPECT_TRUE(event.Test());
    EXPECT_TRUE(event.Wait(10));
    event.Reset();
    EXPECT_FALSE(event.Wait(1));
}

TEST(Event, AutoResetLetsOneWaitThrough) {
    Event event(false, true);
    EXPECT_TRUE(event.Test());
    EXPECT_FALSE(event.Test());
}

TEST(Event, WakesAWaiterOnAnotherThread) {
    Event event(false);
    std::atomic<bool> woke{false};
    Thread waiter([&] { woke = event.Wait(Event::kInfinite); });
    event.Set();
    EXPECT_TRUE(waiter.Join(5000));
    EXPECT_TRUE(woke);
}

TEST(Thread, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> runs{0};
    Thread thread([&] { ++runs; }, Thread::Start::kSuspended);
    EXPECT_FALSE(thread.Join(20));
    EXPECT_EQ(runs, 0);
    thread.SetPriority(ThreadPriority::kAboveNormal);  // best effort, never fatal
    thread.Resume();
    EXPECT_TRUE(thread.Join(5000));
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, JoinTimesOutWhileTheBodyRuns) {
    Event release(true);
    Thread thread([&] { release.Wait(Event::kInfinite); });
    EXPECT_FALSE(thread.Join(10));
    release.Set();
    EXPECT_TRUE(thread.Join(5000));
}

TEST(RecursiveLock, SameThreadMayEnterTwiceOthersWait) {
    RecursiveLock lock;
    ScopedLock outer(lock);
    {
        ScopedLock inner(lock);  // re-entry must not deadlock
    }
    std::atomic<bool> got{true};
    Thread other([&] { got = lock.TryEnter(); });
    ASSERT_TRUE(other.Join(5000));
    EXPECT_FALSE(got);
}

}  // namespace
}  // namespace tavrel
