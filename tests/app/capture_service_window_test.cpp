// The service window's core plugged into a capture: the tables of the generated multiplex
// reach its rows through the port, and its queries reach the running processor.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "sim/multiplex.h"
#include "ui/service_window_core.h"
#include "ui/service_window_link.h"

namespace tavrel {
namespace {

using test_support::AppHarness;

TEST(CaptureServiceWindow, CaptureFillsTheRowsWithTheMultiplexServices) {
    Settings s;
    s.decode_psi = 1;
    s.proc_epg = 1;
    AppHarness h(s);
    sim::MultiplexConfig config;
    config.seconds = 1.5;
    sim::MultiplexGenerator generator(config);
    generator.Run([&](std::span<const uint8_t> chunk) {
        h.tuner->stream.insert(h.tuner->stream.end(), chunk.begin(), chunk.end());
    });
    std::set<uint16_t> expected;
    for (const sim::PlannedService& service : generator.Manifest().transport_streams[0].services) {
        expected.insert(service.service_id);
    }
    ASSERT_EQ(expected.size(), 3u);

    CServiceWindow window(h.ui_thread, h.ui, h.clock);
    ServiceWindowLink link(window);
    ASSERT_TRUE(h.Initialise(&link, nullptr));
    // The main window's toggle shows the window, which then lists the programmes on air too.
    EXPECT_FALSE(window.Visible());
    h.app->ToggleServiceWindow();
    EXPECT_TRUE(window.Visible());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.tuner->Release();
    ASSERT_TRUE(h.tuner->WaitDelivered());
    for (int i = 0; i < 5000 && h.app->ChunkBuffer().Held() >= CaptureApp::kBlockSize; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    h.ui_thread.Drain();

    std::set<uint16_t> shown;
    for (const ServiceListItem& item : window.ServiceItems()) {
        shown.insert(item.service_id);
        EXPECT_FALSE(item.cells[0].empty()) << item.service_id;
    }
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(window.ServiceItems().size(), 3u) << "one row per service";
    std::set<uint16_t> guide;
    for (const GuideListItem& item : window.GuideItems()) {
        guide.insert(item.service_id);
    }
    EXPECT_EQ(guide, expected);
    // The end of the stream empties the list again.
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.ui_thread.Drain();
    EXPECT_TRUE(window.ServiceItems().empty());
}

}  // namespace
}  // namespace tavrel
