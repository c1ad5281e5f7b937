#include "sim/program_tuner.h"

#include <gtest/gtest.h>

#include "app/app_harness.h"
#include "device/fake_usb_host.h"

namespace tavrel {
namespace {

using test_support::MakeFakeBoard;

// The main window's device list, as the window and tavrel-cli show it: the plugged tuners,
// including one listed by id in the settings, before the simulated one, following plugs.
TEST(ProgramTuner, TheDeviceListShowsRealTunersBesideTheSimulatedOne) {
    const sim::SimBoard fx2{.vendor_id = 0x04B4, .product = "FX2 TS"};
    const sim::SimBoard listed{.vendor_id = 0x1234, .product_id = 0x5678, .product = "Listed"};
    sim::MultiplexConfig stream;
    stream.seconds = 0.1;
    auto owned = std::make_unique<test_support::FakeUsbHost>(
        stream, std::vector{MakeFakeBoard(fx2, 3, 4), MakeFakeBoard(listed, 2, 5)});
    auto* host = owned.get();
    sim::ProgramTunerConfig config;
    config.extra_usb_ids = "1234:5678, bad";
    sim::ProgramTuner tuner = sim::MakeProgramTuner(config, std::move(owned));
    EXPECT_EQ(tuner.note, "EXTRA_USB_IDS: 'bad' is not VENDOR:PRODUCT in hex");

    test_support::AppHarness h;
    h.pending_device = std::move(tuner.device);
    ASSERT_TRUE(h.Initialise());
    const auto names = [&] {
        std::vector<std::string> out;
        for (const auto& e : h.app->Window().device.entries) {
            out.push_back(e.text);
        }
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"Listed (bus 1, port 2)", "FX2 TS (bus 1, port 3)",
                                                 "Simulated FX2 tuner"}));
    EXPECT_TRUE(h.app->Window().connect.enabled);
    host->Unplug(1);
    h.ui_thread.Drain();
    EXPECT_EQ(names(), (std::vector<std::string>{"FX2 TS (bus 1, port 3)", "Simulated FX2 tuner"}));
}

}  // namespace
}  // namespace tavrel
