#include "device/dtv_ezusbfx2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <tuple>

#include "device/driver_requests.h"
#include "device/stream_sink.h"
#include "platform/sleep.h"
#include "sim/simulated_fx2.h"

namespace tavrel {
namespace {

using test_support::Expected;
using test_support::Sink;
using test_support::WaitFor;

using sim::LoggedRequest;
using sim::SimulatedFx2Config;

SimulatedFx2Config FastConfig() {
    SimulatedFx2Config c;
    c.stream.pacing = sim::Pacing::kAsFastAsPossible;
    c.stream.loop = false;
    c.stream.multiplex.seconds = 0.1;
    return c;
}

std::vector<LoggedRequest> WithCode(const std::vector<LoggedRequest>& log, uint32_t code) {
    std::vector<LoggedRequest> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [&](const LoggedRequest& r) { return r.code == code; });
    return out;
}

// A tuner over the simulator with a sink on its callback, opened.
struct Rig {
    explicit Rig(const SimulatedFx2Config& config, uint32_t wait_ms = 1000)
        : tuner(sim::MakeSimulatedTuner(config)) {
        tuner.device->data_callback = &Sink::Callback;
        tuner.device->callback_user = &sink;
        tuner.device->transfer_wait_ms = wait_ms;
        EXPECT_TRUE(tuner.device->Open("", nullptr, nullptr));
    }
    Sink sink;
    sim::SimulatedTuner tuner;
};

TEST(EzUsbFx2, WithoutDevicesOpensOnceButCannotConnect) {
    SimulatedFx2Config config;
    config.boards.clear();
    auto tuner = sim::MakeSimulatedTuner(config);
    auto& dev = *tuner.device;
    EXPECT_FALSE(dev.IsOpen());
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    EXPECT_FALSE(dev.Open("", nullptr, nullptr));
    EXPECT_TRUE(dev.IsOpen());
    char name[16] = "x";
    EXPECT_EQ(std::tuple(dev.GetDeviceCount(), dev.GetDeviceName(0, name, sizeof name),
                         dev.GetEndpointCount(0), dev.Connect(0, 0x81, kNoEndpoint),
                         dev.IsConnected(), dev.Disconnect()),
              std::tuple(0, false, 0, false, false, false));
}

TEST(EzUsbFx2, ListsDevicesAndEndpointsOfTheCurrentInterface) {
    SimulatedFx2Config config;
    sim::SimBoard second;
    second.device_name = "";
    second.current_alternate = 1;
    second.interfaces = {{0, 0, {{0x81, 2, 512, 0}}},
                         {0, 1, {{0x82, 3, 1000, 4}, {0x86, 2, 0x0A00, 0}}}};
    config.boards.push_back(second);
    auto tuner = sim::MakeSimulatedTuner(config);
    auto& dev = *tuner.device;
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    ASSERT_EQ(dev.GetDeviceCount(), 2);

    char name[8];
    ASSERT_TRUE(dev.GetDeviceName(0, name, sizeof name));
    EXPECT_STREQ(name, "Simulat");  // cut to the buffer
    ASSERT_TRUE(dev.GetDeviceName(1, name, sizeof name));
    EXPECT_STREQ(name, "?");

    struct Row {
        int device, index;
        uint8_t address, attributes;
        uint16_t max_packet, transactions;
    };
    const Row rows[] = {{0, 0, 0x00, 0, 64, 1}, {0, 1, 0x81, 2, 512, 1},  {0, 2, 0x01, 2, 512, 1},
                        {1, 0, 0x00, 0, 64, 1}, {1, 1, 0x82, 3, 1000, 1}, {1, 2, 0x86, 2, 1024, 2}};
    EXPECT_EQ(dev.GetEndpointCount(0), 3);
    EXPECT_EQ(dev.GetEndpointCount(1), 3);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.device << "/" << r.index);
        EndpointInfo info;
        ASSERT_TRUE(dev.GetEndpointInfo(r.device, r.index, info));
        EXPECT_EQ(
            std::tuple(info.length, info.descriptor_type, info.address, info.attributes,
                       info.max_packet_size, info.transactions_per_microframe, info.timeout_ms),
            std::tuple(7, 5, r.address, r.attributes, r.max_packet, r.transactions, 10000u));
        EXPECT_TRUE(dev.HasEndpoint(r.device, r.address));
    }
    EndpointInfo info;
    EXPECT_FALSE(dev.GetEndpointInfo(0, 3, info));
    EXPECT_FALSE(dev.HasEndpoint(0, 0x82));  // only on the other device
    EXPECT_FALSE(dev.HasEndpoint(1, 0x01));  // interface 0 is not the current one
}

// Paced by the clock, a read fills from the moment it reaches the front of the queue: at a
// broadcast rate every one of the 32 reads in flight comes back whole, and only a stream too
// slow to fill one within 100 ms makes reads come back short (not necessarily all of them: a
// service thread woken late on a loaded machine finds a whole read's worth).
TEST(EzUsbFx2, PacedReadsComeBackWholeUnlessTheStreamIsTooSlowToFillThem) {
    struct Case {
        const char* name;
        uint64_t bitrate, calls;  // calls: enough for reads queued at the start to wait > 100 ms
        bool whole;
    };
    // 32 KiB take 11 ms at 24 Mbit/s, 131 ms at 2 Mbit/s.
    const Case cases[] = {{"24 Mbit/s", 24'000'000, 30, true}, {"2 Mbit/s", 2'000'000, 6, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedFx2Config config;
        config.stream.multiplex.bitrate = c.bitrate;
        config.stream.multiplex.seconds = 2;
        Rig rig(config);
        ASSERT_TRUE(rig.tuner.device->Connect(0, 0x81, kNoEndpoint));
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard lock(rig.sink.mutex);
            return rig.sink.calls >= c.calls;
        }));
        ASSERT_TRUE(rig.tuner.device->Disconnect());
        std::lock_guard lock(rig.sink.mutex);
        EXPECT_GT(rig.sink.shortest, 0u);
        EXPECT_EQ(rig.sink.shortest == TransferSlot::kBufferSize, c.whole);
    }
}

TEST(EzUsbFx2, EveryStreamedByteReachesTheCallbackOnceInOrder) {
    struct Case {
        const char* name;
        uint32_t driver_version;
        sim::SimEndpoint in;
        sim::SimFaults faults;
        uint32_t packet_size, expected_code, expected_size;
    };
    const sim::SimEndpoint bulk{0x81, 2, 512, 0};
    const Case cases[] = {
        {"direct bulk", 0x01050500, bulk, {}, 188, 0x22004B, 0x8000},
        {"buffered bulk", 0x01050400, bulk, {}, 188, 0x220024, 0x8000},
        {"interrupt, 1000-byte packets", 0x01050500, {0x83, 3, 1000, 1}, {}, 204, 0x22004B, 33000},
        {"short reads", 0x01050500, bulk, {false, 0, true, 0}, 192, 0x22004B, 0x8000},
        {"every third read fails", 0x01050400, bulk, {false, 3, false, 0}, 188, 0x220024, 0x8000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedFx2Config config = FastConfig();
        config.boards[0].driver_version = c.driver_version;
        config.boards[0].interfaces[0].endpoints = {c.in};
        config.faults = c.faults;
        config.stream.multiplex.packet_size = c.packet_size;
        config.stream.digest = true;
        const auto [bytes, crc] = Expected(config.stream.multiplex);
        Rig rig(config);
        auto& [sink, tuner] = rig;
        auto& dev = *tuner.device;
        ASSERT_TRUE(dev.Connect(0, c.in.address, kNoEndpoint));
        EXPECT_TRUE(dev.IsConnected());
        EXPECT_TRUE(WaitFor([&] { return sink.Bytes() >= bytes; }));
        ASSERT_TRUE(dev.Disconnect());
        EXPECT_EQ(std::tuple(sink.bytes, sink.crc, tuner.driver->StreamCrc(), sink.totals_ok,
                             dev.total_bytes.load()),
                  std::tuple(bytes, crc, crc, true, bytes));
        EXPECT_GE(dev.success_count.load(), sink.calls);
        if (c.faults.fail_every != 0) {
            EXPECT_GT(dev.failure_count.load(), 0u);
        }

        const auto log = tuner.driver->Requests();
        const auto sizes = WithCode(log, ioctl::kSetTransferSize);
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].data,
                  (std::vector<uint8_t>{c.in.address, static_cast<uint8_t>(c.expected_size),
                                        static_cast<uint8_t>(c.expected_size >> 8), 0, 0}));
        const auto reads = WithCode(log, c.expected_code);
        EXPECT_GT(reads.size(), 1u);
        EXPECT_TRUE(WithCode(log, c.expected_code == 0x22004B ? 0x220024 : 0x22004B).empty());
        EXPECT_EQ(tuner.driver->OverlappingReads(), 0u);
    }
}

TEST(EzUsbFx2, ReadsLateOrNeverCountOnlyAsFailures) {
    struct Case {
        const char* name;
        sim::SimFaults faults;
        uint32_t wait_ms;
    };
    // A silent device, and one whose reads complete 150 ms after their begin: without the
    // cancel after the wait, a slot would be queued again while the driver still owns it.
    for (const Case& c :
         {Case{"silent", {true, 0, false, 0}, 100}, Case{"slow", {false, 0, false, 150}, 40}}) {
        SCOPED_TRACE(c.name);
        SimulatedFx2Config config = FastConfig();
        config.faults = c.faults;
        Rig rig(config, c.wait_ms);
        auto& dev = *rig.tuner.device;
        ASSERT_TRUE(dev.Connect(0, 0x81, kNoEndpoint));
        // One failure per pending read per wait: every slot fails at least twice over.
        ASSERT_TRUE(
            WaitFor([&] { return dev.failure_count.load() >= 2 * CDTV_EzUSBFX2::kSlotCount; }));
        ASSERT_TRUE(dev.Disconnect());
        EXPECT_EQ(
            std::tuple(dev.success_count.load(), dev.total_bytes.load(), rig.sink.calls,
                       rig.tuner.driver->BytesStreamed(), rig.tuner.driver->OverlappingReads()),
            std::tuple(0u, 0u, 0u, 0u, 0u));
        EXPECT_FALSE(WithCode(rig.tuner.driver->Requests(), ioctl::kAbortPipe).empty());
        // Statistics stay until the next Connect, which resets them.
        const uint32_t failures = dev.failure_count.load();
        Sleep(20);
        EXPECT_EQ(dev.failure_count.load(), failures);
        rig.tuner.driver->SetFaults({});
        ASSERT_TRUE(dev.Connect(0, 0x81, kNoEndpoint));
        EXPECT_LT(dev.failure_count.load(), failures);
        EXPECT_TRUE(dev.Disconnect());
    }
}

TEST(EzUsbFx2, AMissingStreamFileIsRefusedAtConstruction) {
    SimulatedFx2Config config;
    config.stream.ts_file = "/nonexistent/tavrel-stream.ts";
    EXPECT_THROW(sim::MakeSimulatedTuner(config), std::runtime_error);
}

}  // namespace
}  // namespace tavrel
