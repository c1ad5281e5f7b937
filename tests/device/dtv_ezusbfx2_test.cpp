#include "device/dtv_ezusbfx2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <tuple>

#include "device/driver_requests.h"
#include "device/stream_sink.h"
#include "platform/sleep.h"
#include "sim/multiplex.h"
#include "sim/simulated_fx2.h"
#include "ts/crc32.h"

namespace tavrel {
namespace {

using test_support::Expected;
using test_support::Recipient;
using test_support::Sink;
using test_support::WaitFor;

using sim::LoggedRequest;
using sim::SimulatedFx2Config;

SimulatedFx2Config FastConfig(double seconds = 0.1) {
    SimulatedFx2Config c;
    c.stream.pacing = sim::Pacing::kAsFastAsPossible;
    c.stream.loop = false;
    c.stream.multiplex.seconds = seconds;
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
    explicit Rig(const SimulatedFx2Config& config, uint32_t wait_ms = 1000,
                 DeviceNotificationRecipient* recipient = nullptr)
        : tuner(sim::MakeSimulatedTuner(config)) {
        tuner.device->data_callback = &Sink::Callback;
        tuner.device->callback_user = &sink;
        tuner.device->transfer_wait_ms = wait_ms;
        EXPECT_TRUE(tuner.device->Open("", recipient, nullptr));
    }
    Sink sink;
    sim::SimulatedTuner tuner;
};

TEST(EzUsbFx2, WithoutDevicesOpensButCannotConnect) {
    SimulatedFx2Config config;
    config.boards.clear();
    auto tuner = sim::MakeSimulatedTuner(config);
    auto& dev = *tuner.device;
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.GetDeviceCount(), 0);
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    EXPECT_FALSE(dev.Open("", nullptr, nullptr));
    EXPECT_TRUE(dev.IsOpen());
    EXPECT_EQ(dev.GetDeviceCount(), 0);
    char name[16] = "x";
    EXPECT_FALSE(dev.GetDeviceName(0, name, sizeof name));
    EXPECT_EQ(dev.GetEndpointCount(0), 0);
    EXPECT_FALSE(dev.Connect(0, 0x81, kNoEndpoint));
    EXPECT_FALSE(dev.IsConnected());
    EXPECT_FALSE(dev.Disconnect());
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
        int device;
        int index;
        uint8_t address;
        uint8_t attributes;
        uint16_t max_packet;
        uint16_t transactions;
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
        uint64_t bitrate;
        uint64_t calls;  // enough for reads queued at the start to wait well over 100 ms
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
        if (c.whole) {
            EXPECT_EQ(rig.sink.shortest, TransferSlot::kBufferSize);
        } else {
            EXPECT_GT(rig.sink.shortest, 0u);
            EXPECT_LT(rig.sink.shortest, TransferSlot::kBufferSize);
        }
    }
}

TEST(EzUsbFx2, EveryStreamedByteReachesTheCallbackOnceInOrder) {
    struct Case {
        const char* name;
        uint32_t driver_version;
        sim::SimEndpoint in;
        sim::SimFaults faults;
        uint32_t packet_size;
        uint32_t expected_code;
        uint32_t expected_size;
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
        EXPECT_EQ(sink.bytes, bytes);
        EXPECT_EQ(sink.crc, crc);
        EXPECT_EQ(tuner.driver->StreamCrc(), crc);
        EXPECT_TRUE(sink.totals_ok);
        EXPECT_EQ(dev.total_bytes.load(), bytes);
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

TEST(EzUsbFx2, FirmwareInitWritesThreeCommandsBeforeTheFirstRead) {
    for (const bool init : {true, false}) {
        SCOPED_TRACE(init);
        Rig rig(FastConfig(0.05));
        auto& tuner = rig.tuner;
        auto& dev = *tuner.device;
        dev.firmware_init = init;
        ASSERT_TRUE(dev.Connect(0, 0x81, 0x01));
        ASSERT_TRUE(WaitFor([&] { return tuner.driver->ReadsCompleted() > 0; }));
        ASSERT_TRUE(dev.Disconnect());
        std::vector<std::vector<uint8_t>> writes;
        size_t first_read = 0;
        const auto log = tuner.driver->Requests();
        for (size_t i = 0; i < log.size(); ++i) {
            const bool transfer = log[i].code == ioctl::kDirectTransfer;
            if (transfer && log[i].endpoint == 0x01) {
                writes.push_back(log[i].data);
                EXPECT_EQ(first_read, 0u) << "an OUT write after a read";
            } else if (transfer && first_read == 0) {
                first_read = i;
            }
        }
        EXPECT_NE(first_read, 0u);
        if (init) {
            EXPECT_EQ(writes,
                      (std::vector<std::vector<uint8_t>>{{0x80, 0x00}, {0x8B}, {0x80, 0x01}}));
        } else {
            EXPECT_TRUE(writes.empty());
        }
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
        EXPECT_EQ(dev.success_count.load(), 0u);
        EXPECT_EQ(dev.total_bytes.load(), 0u);
        EXPECT_EQ(rig.sink.calls, 0u);
        EXPECT_EQ(rig.tuner.driver->BytesStreamed(), 0u);
        EXPECT_EQ(rig.tuner.driver->OverlappingReads(), 0u);
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

TEST(EzUsbFx2, DisconnectCollectsPendingReadsAndUnplugStopsData) {
    SimulatedFx2Config config;  // real time: reads are pending most of the time
    config.stream.multiplex.bitrate = 4'000'000;
    Recipient recipient;
    Rig rig(config, 1000, &recipient);
    auto& [sink, tuner] = rig;
    auto& dev = *tuner.device;
    ASSERT_TRUE(dev.Connect(0, 0x81, 0x01));
    ASSERT_TRUE(WaitFor([&] { return sink.Bytes() > 0; }));
    tuner.driver->Unplug(0);
    EXPECT_GE(recipient.removals.load(), 1);
    EXPECT_EQ(dev.GetDeviceCount(), 0);
    const uint64_t at_unplug = tuner.driver->BytesStreamed();
    ASSERT_TRUE(WaitFor([&] { return dev.failure_count.load() > 0; }));
    ASSERT_TRUE(dev.Disconnect());
    // Every read the driver took was collected, as data or as a failure; after the unplug
    // the begin calls themselves fail and count too.
    const uint64_t reads = WithCode(tuner.driver->Requests(), ioctl::kDirectTransfer).size();
    EXPECT_GE(dev.success_count.load() + dev.failure_count.load(), reads);
    EXPECT_EQ(sink.bytes, at_unplug);
    tuner.driver->Plug(0);
    EXPECT_EQ(recipient.arrivals.load(), 1);
    EXPECT_EQ(dev.GetDeviceCount(), 1);
}

TEST(EzUsbFx2, AMissingStreamFileIsRefusedAtConstruction) {
    SimulatedFx2Config config;
    config.stream.ts_file = "/nonexistent/tavrel-stream.ts";
    EXPECT_THROW(sim::MakeSimulatedTuner(config), std::runtime_error);
}

}  // namespace
}  // namespace tavrel
