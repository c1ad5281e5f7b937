#include "gui/qt_ui_thread.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

#include "gui/gui_harness.h"

namespace tavrel::testing {
namespace {

// Work posted from several threads runs on the thread of the event loop, each poster's work in
// its order, and the listeners run once per batch, after the work.
TEST(QtUiThreadTest, RunsWorkOfManyThreadsInTheEventLoopInPostingOrder) {
    gui::QtUiThread ui;
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<int>> seen(kThreads);
    int listener_calls = 0;
    int ran = 0;
    bool off_main_thread = false;
    ui.AddDrainedListener([&] { ++listener_calls; });

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ui.Post([&, t, i] {
                    off_main_thread |=
                        QThread::currentThread() != QApplication::instance()->thread();
                    seen[static_cast<size_t>(t)].push_back(i);
                    ++ran;
                });
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    EXPECT_EQ(ran, 0) << "posted work must wait for the event loop";
    ASSERT_TRUE(ProcessEventsUntil([&] { return ran == kThreads * kEach; }));
    EXPECT_FALSE(off_main_thread);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), static_cast<size_t>(kEach));
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
    // One wake-up serves every closure queued before it ran.
    EXPECT_GE(listener_calls, 1);
    EXPECT_LT(listener_calls, kThreads * kEach / 10);
    EXPECT_EQ(ui.BatchCost().batches, static_cast<uint64_t>(listener_calls));
    EXPECT_EQ(ui.Pending(), 0u);
}

// Work that runs a nested event loop (a modal box) does not hold back what is posted meanwhile;
// Drain runs the queued work at once and not again later.
TEST(QtUiThreadTest, NestedLoopsRunPostedWorkAndDrainRunsItAtOnce) {
    gui::QtUiThread ui;
    bool inner_ran = false;
    bool inner_ran_inside = false;
    ui.Post([&] {
        ui.Post([&] { inner_ran = true; });
        inner_ran_inside = ProcessEventsUntil([&] { return inner_ran; }, 2000);
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return inner_ran; }));
    EXPECT_TRUE(inner_ran_inside);

    int ran = 0;
    ui.Post([&] { ++ran; });
    ui.Post([&] { ++ran; });
    EXPECT_EQ(ui.Pending(), 2u);
    EXPECT_EQ(ui.Drain(), 2u);
    QApplication::processEvents();
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(ui.Drain(), 0u);
}

}  // namespace
}  // namespace tavrel::testing
