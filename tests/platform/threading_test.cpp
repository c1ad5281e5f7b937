#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"
#include "platform/ui_thread.h"

namespace tavrel {
namespace {

TEST(Event, ManualResetStaysSetAutoResetLetsOneThroughAndTimedWaitsLast) {
    Event manual(true);
    EXPECT_FALSE(manual.Test());
    manual.Set();
    EXPECT_TRUE(manual.Test());
    EXPECT_TRUE(manual.Wait(10));
    manual.Reset();
    Event automatic(false, true);
    EXPECT_TRUE(automatic.Test());
    for (Event* event : {&manual, &automatic}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(event->Wait(20));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    }
}

// Two threads hand a turn back and forth: a lost wake-up would leave one waiting forever.
TEST(Event, PingPongLosesNoSignal) {
    Event ping(false);
    Event pong(false);
    constexpr int kRounds = 2000;
    std::atomic<int> answered{0};
    Thread other([&] {
        for (int i = 0; i < kRounds && ping.Wait(5000); ++i) {
            ++answered;
            pong.Set();
        }
    });
    int rounds = 0;
    for (; rounds < kRounds; ++rounds) {
        ping.Set();
        if (!pong.Wait(5000)) {
            break;
        }
    }
    EXPECT_TRUE(other.Join(5000));
    EXPECT_EQ(rounds, kRounds);
    EXPECT_EQ(answered.load(), kRounds);
}

TEST(Event, EachSetOfAnAutoResetEventReleasesOneWaiter) {
    Event event(false);
    std::atomic<int> through{0};
    std::vector<std::unique_ptr<Thread>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::make_unique<Thread>([&] {
            if (event.Wait(10000)) {
                ++through;
            }
        }));
    }
    for (int released = 1; released <= 3; ++released) {
        event.Set();
        for (int i = 0; i < 5000 && through.load() < released; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no second one slips by
        EXPECT_EQ(through.load(), released);
    }
    for (auto& w : waiters) {
        EXPECT_TRUE(w->Join(5000));
    }
    EXPECT_FALSE(event.Test()) << "every signal was consumed";
}

TEST(QueuedUiThread, WaitForWorkWakesOnAPostAndTimesOutWithout) {
    QueuedUiThread ui;
    EXPECT_FALSE(ui.WaitForWork(5));
    int ran = 0;
    Thread poster([&] { ui.Post([&] { ++ran; }); });
    EXPECT_TRUE(ui.WaitForWork(10000));
    EXPECT_TRUE(poster.Join(5000));
    EXPECT_EQ(ui.Drain(), 1u);
    EXPECT_EQ(ran, 1);
}

TEST(Thread, SuspendedThreadRunsOnlyAfterResumeAndJoinTimesOutUntilItEnds) {
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

TEST(Thread, CarriesItsNameCutToWhatTheKernelKeeps) {
    for (const auto& [name, kept] : {std::pair{"fx2-submit", "fx2-submit"},
                                     std::pair{"a-name-longer-than-fifteen", "a-name-longer-t"}}) {
        std::string seen;
        Thread thread(
            [&] {
                char buffer[32] = {};
                pthread_getname_np(pthread_self(), buffer, sizeof buffer);
                seen = buffer;
            },
            Thread::Start::kRunning, name);
        ASSERT_TRUE(thread.Join(Event::kInfinite));
        EXPECT_EQ(seen, kept);
    }
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
