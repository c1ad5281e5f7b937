// The handlers on a processing thread while the UI thread drains the posted work, refreshes
// the programmes, reads the state and runs the filter: run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "reservation/reservation_fixture.h"
#include "ui/programme_records.h"
#include "ui/service_window_core.h"

namespace tavrel {
namespace {

using testing::At;
using testing::kSaturday;
using testing::Programme;

TEST(ServiceWindowThreads, HandlersAndUiThreadInterleave) {
    QueuedUiThread ui;
    testing::ScriptedUi dialogs;
    FakeClock clock;
    CServiceWindow window(ui, dialogs, clock);
    std::atomic<int> filter_calls{0};
    ServiceWindowQueries queries;
    queries.filter = [&](std::span<const uint16_t>, std::span<const uint16_t>) { ++filter_calls; };
    window.SetQueries(queries);
    window.SetCaptureState(true);
    window.SetVisible(true);

    constexpr int kRounds = 200;
    std::atomic<bool> done{false};
    // The handlers keep pace with the UI thread so that the two surely overlap. Relaxed on
    // purpose: an ordering atomic would order the UI thread's reads before the handlers' writes.
    std::atomic<int> ui_rounds{0};
    std::thread processing([&] {
        const StreamEntry streams[] = {{0x02, 0, 0x111}, {0x0F, 0, 0x112}};
        for (int round = 0; round < kRounds; ++round) {
            while (ui_rounds.load(std::memory_order_relaxed) < round / 2) {
                std::this_thread::yield();
            }
            if (round % 10 == 0) {
                window.OnStreamReset();
            }
            const auto id = static_cast<uint16_t>(100 + round % 7);
            window.OnProgramme(id, static_cast<uint16_t>(0x1F0 + round % 7));
            window.OnStreams(id, streams);
            window.OnServiceName(id, "name");
            window.OnEventRecord(
                Programme(id, static_cast<uint16_t>(round), At(kSaturday, 19, 0), 3600, "x"), id,
                true);
        }
        done = true;
    });
    while (!done.load()) {
        ui.Drain();
        window.OnBroadcastTime(At(kSaturday, 19, 30));
        window.PressFilterButton();
        window.ServiceItems();
        window.GuideItems();
        window.ServiceRowTip(0);
        window.GuideRowTip(0);
        ui_rounds.fetch_add(1, std::memory_order_relaxed);
    }
    processing.join();
    ui.Drain();
    window.OnBroadcastTime(At(kSaturday, 19, 30));

    // After the last reset services 100 to 106 arrived again: seven rows, each on air.
    const std::vector<ServiceListItem> items = window.ServiceItems();
    ASSERT_EQ(items.size(), 7u);
    for (const ServiceListItem& item : items) {
        EXPECT_EQ(item.cells[kColumnProgramme], "19:00 - 20:00 x");
        EXPECT_EQ(item.cells[kColumnChannelName], "name");
    }
    EXPECT_EQ(window.GuideItems().size(), 7u);
    EXPECT_GT(filter_calls.load(), 0);
}

}  // namespace
}  // namespace tavrel
