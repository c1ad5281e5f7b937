#include "sim/program_tuner.h"

#include <gtest/gtest.h>

#include "app/app_harness.h"
#include "device/fake_usb_host.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using test_support::FakeUsbHost;
using test_support::MakeFakeBoard;

std::vector<std::string> DeviceList(const AppHarness& h) {
    std::vector<std::string> names;
    for (const auto& e : h.app->Window().device.entries) {
        names.push_back(e.text);
    }
    return names;
}

// The main window's device list, as the window and tavrel-cli show it: the plugged tuners,
// including one listed by id in the settings, before the simulated one, following plugs.
TEST(ProgramTuner, TheDeviceListShowsRealTunersBesideTheSimulatedOne) {
    sim::SimBoard fx2;
    fx2.vendor_id = 0x04B4;
    fx2.product = "FX2 TS";
    sim::SimBoard listed;
    listed.vendor_id = 0x1234;
    listed.product_id = 0x5678;
    listed.product = "Listed";
    sim::MultiplexConfig stream;
    stream.seconds = 0.1;
    auto owned = std::make_unique<FakeUsbHost>(
        stream, std::vector{MakeFakeBoard(fx2, 3, 4), MakeFakeBoard(listed, 2, 5)});
    FakeUsbHost* host = owned.get();
    sim::ProgramTunerConfig config;
    config.extra_usb_ids = "1234:5678, bad";
    sim::ProgramTuner tuner = sim::MakeProgramTuner(config, std::move(owned));
    EXPECT_EQ(tuner.note, "EXTRA_USB_IDS: 'bad' is not VENDOR:PRODUCT in hex");

    AppHarness h;
    h.pending_device = std::move(tuner.device);
    ASSERT_TRUE(h.Initialise());
    EXPECT_EQ(DeviceList(h),
              (std::vector<std::string>{"Listed (bus 1, port 2)", "FX2 TS (bus 1, port 3)",
                                        "Simulated FX2 tuner"}));
    EXPECT_TRUE(h.app->Window().connect.enabled);

    host->Unplug(1);
    h.ui_thread.Drain();
    EXPECT_EQ(DeviceList(h),
              (std::vector<std::string>{"FX2 TS (bus 1, port 3)", "Simulated FX2 tuner"}));
    host->Plug(1);
    h.ui_thread.Drain();
    EXPECT_EQ(DeviceList(h).size(), 3u);
}

TEST(ProgramTuner, WithoutRealTunersTheSimulatedOneRemains) {
    sim::ProgramTunerConfig config;
    config.real_tuners = false;
    sim::ProgramTuner tuner = sim::MakeProgramTuner(config);
    ASSERT_TRUE(tuner.device->Open("", nullptr, nullptr));
    EXPECT_EQ(tuner.device->GetDeviceCount(), 1);
    EXPECT_TRUE(tuner.note.empty());
}

}  // namespace
}  // namespace tavrel
