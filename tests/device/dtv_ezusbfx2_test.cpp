// The FX2 tuner class over its two backends: the simulated driver and the host's USB library
// (a fake bus here). What reaches the data callback, the requests sent, hot-plugging.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <tuple>

#include "device/combined_usb_driver.h"
#include "device/device_notification.h"
#include "device/driver_requests.h"
#include "device/dtv_ezusbfx2.h"
#include "device/fake_usb_host.h"
#include "device/host_usb_driver.h"
#include "device/usb_device.h"
#include "platform/sleep.h"
#include "sim/simulated_fx2.h"
#include "ts/crc32.h"

namespace tavrel {
namespace {

// What the data callback saw: a running CRC of the bytes, and whether every total it was
// given matched the bytes delivered so far.
struct Sink {
    std::mutex mutex;
    uint64_t bytes = 0;
    uint32_t crc = kCrc32Initial;
    uint64_t calls = 0;
    bool totals_ok = true;
    uint32_t shortest = UINT32_MAX;

    static void Callback(const uint8_t* data, uint32_t length, uint32_t low, uint32_t high,
                         void* user) {
        auto& s = *static_cast<Sink*>(user);
        std::lock_guard lock(s.mutex);
        s.crc = Crc32Update(s.crc, {data, length});
        s.bytes += length;
        ++s.calls;
        s.shortest = std::min(s.shortest, length);
        s.totals_ok = s.totals_ok && ((uint64_t{high} << 32) | low) == s.bytes;
    }
    uint64_t Bytes() {
        std::lock_guard lock(mutex);
        return bytes;
    }
    void Attach(CDTV_EzUSBFX2& device) {
        device.data_callback = &Callback;
        device.callback_user = this;
    }
};

// Counts the arrival and removal notices it is given.
struct Recipient : DeviceNotificationRecipient {
    void OnDeviceChange(bool arrival) override { (arrival ? arrivals : removals)++; }
    std::atomic<int> arrivals{0};
    std::atomic<int> removals{0};
};

// Polls until `done` or a few seconds have passed.
template <typename F>
bool WaitFor(F done) {
    for (int i = 0; i < 2500 && !done(); ++i) {
        Sleep(2);
    }
    return done();
}

// The bytes and CRC the generator gives for the configuration.
std::pair<uint64_t, uint32_t> Expected(const sim::MultiplexConfig& config) {
    sim::MultiplexGenerator gen(config);
    uint64_t bytes = 0;
    uint32_t crc = kCrc32Initial;
    gen.Run([&](std::span<const uint8_t> chunk) {
        crc = Crc32Update(crc, chunk);
        bytes += chunk.size();
    });
    return {bytes, crc};
}

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
        sink.Attach(*tuner.device);
        tuner.device->transfer_wait_ms = wait_ms;
        EXPECT_TRUE(tuner.device->Open("", nullptr, nullptr));
    }
    Sink sink;
    sim::SimulatedTuner tuner;
};

TEST(EzUsbFx2, WithoutDevicesOpensOnceButCannotConnectWithoutAStreamFileIsRefused) {
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
    // A stream file that is not there is refused at construction.
    SimulatedFx2Config missing;
    missing.stream.ts_file = "/nonexistent/tavrel-stream.ts";
    EXPECT_THROW(sim::MakeSimulatedTuner(missing), std::runtime_error);
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

using test_support::FakeBoard;
using test_support::FakeSubmit;
using test_support::FakeUsbHost;
using test_support::MakeFakeBoard;

sim::MultiplexConfig Stream(double seconds = 0.1) {
    sim::MultiplexConfig c;
    c.seconds = seconds;
    return c;
}

sim::SimBoard Tuner(uint16_t vendor = 0x04B4, uint16_t product = 0x1004,
                    std::string name = "FX2 TS") {
    sim::SimBoard b;
    b.vendor_id = vendor;
    b.product_id = product;
    b.manufacturer = "Maker";
    b.product = std::move(name);
    return b;
}

// The backend over a fake bus, with an FX2 device on it and a sink on its callback.
struct Bus {
    explicit Bus(std::vector<FakeBoard> boards, sim::MultiplexConfig stream = Stream(),
                 std::vector<UsbId> extra = {}) {
        auto owned = std::make_unique<FakeUsbHost>(stream, std::move(boards));
        host = owned.get();
        driver =
            std::make_unique<HostUsbDriver>(std::move(owned), std::move(extra), kFx2InterfaceClass);
        device = std::make_unique<CDTV_EzUSBFX2>(*driver);
        sink.Attach(*device);
    }
    ~Bus() { device.reset(); }

    FakeUsbHost* host = nullptr;
    std::unique_ptr<HostUsbDriver> driver;
    std::unique_ptr<CDTV_EzUSBFX2> device;
    Sink sink;
};

std::vector<std::string> Names(CDTV_EzUSBFX2& dev) {
    std::vector<std::string> names;
    for (int i = 0; i < dev.GetDeviceCount(); ++i) {
        char name[81] = {};
        dev.GetDeviceName(i, name, sizeof name);
        names.emplace_back(name);
    }
    return names;
}

// Listed ids come from the text of the settings.
TEST(HostUsbDriver, ListsFx2TunersAndListedIdsByPlace) {
    std::vector<std::string> rejected;
    const auto ids =
        ParseUsbIds("1234:5678, 0x0547:0x1002\tabcd:EF01 ,, 12345:1 nocolon :12 04b4:", &rejected);
    EXPECT_EQ(ids, (std::vector<UsbId>{{0x1234, 0x5678}, {0x0547, 0x1002}, {0xABCD, 0xEF01}}));
    EXPECT_EQ(rejected, (std::vector<std::string>{"12345:1", "nocolon", ":12", "04b4:"}));
    EXPECT_TRUE(ParseUsbIds("").empty());
    sim::SimBoard hub = Tuner();
    auto hub_board = MakeFakeBoard(hub, 1, 2);
    hub_board.device.device_class = 9;
    sim::SimBoard keyboard = Tuner(0x04B4, 0x0101);
    keyboard.interfaces = {{0, 0, {{0x81, 3, 8, 10}}}};  // interrupt IN only
    sim::SimBoard writer = Tuner(0x04B4, 0x8613);
    writer.interfaces = {{0, 0, {{0x02, 2, 512, 0}}}};  // bulk OUT only: nothing to stream
    auto denied = MakeFakeBoard(Tuner(0x04B4, 0x1004), 8, 8);
    denied.deny_open = true;
    Bus bus({MakeFakeBoard(Tuner(), 4, 9), hub_board, MakeFakeBoard(keyboard, 3, 3),
             MakeFakeBoard(Tuner(0x1234, 0x5678, "Listed"), 2, 5),
             MakeFakeBoard(Tuner(0x1234, 0x9999), 6, 6), MakeFakeBoard(writer, 5, 4),
             MakeFakeBoard(Tuner(0x0547, 0x1002, "Second"), 1, 7), denied},
            Stream(), ids);
    auto& dev = *bus.device;
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    // A device without permission is named, not left out.
    EXPECT_EQ(Names(dev),
              (std::vector<std::string>{
                  "Second (bus 1, port 1)", "Listed (bus 1, port 2)", "FX2 TS (bus 1, port 4)",
                  "USB 04B4:1004 (bus 1, port 8): no permission, install the udev rule"}));
    EXPECT_EQ(bus.driver->InterfaceCount("{00000000-0000-0000-0000-000000000000}"), 0);
    // Listing opens each device but takes none from its kernel driver.
    EXPECT_EQ(std::tuple(bus.host->Claims(), bus.host->OpenHandles()), std::tuple(0, 0));
    // No descriptors can be read of the denied one: only the control endpoint, nothing to capture.
    const size_t submits = bus.host->Submits().size();
    EXPECT_EQ(dev.GetEndpointCount(3), 1);
    EXPECT_FALSE(dev.Connect(3, 0x81, kNoEndpoint));
    EXPECT_EQ(bus.host->Submits().size(), submits);
}

TEST(HostUsbDriver, DescriptorsAndValuesReachTheAccessLayer) {
    sim::SimBoard board = Tuner();
    board.interfaces = {{0, 0, {{0x81, 2, 512, 0}, {0x01, 2, 512, 0}}},
                        {0, 1, {{0x82, 2, 512, 0}}}};
    board.current_alternate = 1;
    auto fake = MakeFakeBoard(board, 2, 11);
    fake.kernel_driver = true;
    Bus bus({fake});
    UsbDevice usb(*bus.driver, nullptr, kFx2InterfaceClass, false);
    ASSERT_EQ(usb.DeviceCount(), 1);
    ASSERT_TRUE(usb.Open(0));
    const auto& d = usb.descriptor;
    EXPECT_EQ(std::tuple(d.vendor_id, d.product_id, d.configurations, usb.language),
              std::tuple(0x04B4, 0x1004, 1, 0x0409));
    EXPECT_EQ(std::tuple(usb.manufacturer, usb.product), std::tuple(u"Maker", u"FX2 TS"));
    EXPECT_EQ(std::tuple(usb.device_name, usb.friendly_name),
              std::tuple("FX2 TS (bus 1, port 2)", "Maker FX2 TS [04B4:1004]"));
    EXPECT_EQ(std::tuple(usb.driver_version, usb.usbdi_version, usb.device_address, usb.high_speed),
              std::tuple(kHostDriverVersion, 0x01001A00u, 11, true));
    // The interface of the alternate setting the device reports.
    EXPECT_EQ(usb.alternate_setting, 1);
    ASSERT_EQ(usb.EndpointCount(), 2);
    const UsbEndpoint& ep = *usb.EndpointAt(1);
    EXPECT_EQ(std::tuple(ep.address, ep.direct, ep.max_packet_size), std::tuple(0x82, true, 512));
    // Only standard device requests so far: the kernel driver keeps the device.
    EXPECT_EQ(bus.host->KernelDriversBound(), 1);
    EXPECT_TRUE(usb.Close());
    EXPECT_EQ(bus.host->OpenHandles(), 0);
}

// The firmware-init commands go out on the OUT endpoint before the first read, only when asked.
TEST(HostUsbDriver, CaptureDeliversTheStreamOnceInOrder) {
    const struct {
        const char* name;
        sim::SimEndpoint in;
        uint32_t packet_size;
        bool firmware_init;
    } cases[] = {
        {"bulk", {0x81, 2, 512, 0}, 188, true},
        {"interrupt, no firmware init", {0x83, 3, 1024, 1}, 204, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimBoard board = Tuner();
        // A bulk IN endpoint makes it a tuner; the capture may use any IN endpoint.
        if (c.in.address != 0x81) {
            board.interfaces[0].endpoints.push_back(c.in);
        }
        auto fake = MakeFakeBoard(board, 1, 3);
        fake.kernel_driver = true;
        auto stream = Stream();
        stream.packet_size = c.packet_size;
        const auto [bytes, crc] = Expected(stream);
        Bus bus({fake}, stream);
        auto& dev = *bus.device;
        ASSERT_TRUE(dev.Open("", nullptr, nullptr));
        dev.firmware_init = c.firmware_init;
        ASSERT_TRUE(dev.Connect(0, c.in.address, 0x01));
        ASSERT_TRUE(WaitFor([&] { return bus.sink.Bytes() >= bytes; }));
        EXPECT_EQ(std::tuple(bus.host->Claims(), bus.host->KernelDriversBound()),
                  std::tuple(1, 0));  // detached for the capture
        ASSERT_TRUE(dev.Disconnect());
        EXPECT_EQ(
            std::tuple(bus.sink.bytes, bus.sink.crc, bus.host->StreamCrc(), bus.sink.totals_ok),
            std::tuple(bytes, crc, crc, true));
        // Closed: nothing left queued, the interface released to its kernel driver.
        EXPECT_EQ(std::tuple(bus.host->Pending(), bus.host->OpenHandles(),
                             bus.host->KernelDriversBound()),
                  std::tuple(0u, 0, 1));

        std::vector<std::vector<uint8_t>> writes;
        bool read = false;
        for (const auto& s : bus.host->Submits()) {
            if (s.endpoint == 0x01) {
                writes.push_back(s.data);
                EXPECT_FALSE(read) << "an OUT write after a read";
            } else if (s.endpoint == c.in.address) {
                read = true;
                EXPECT_EQ(s.type, c.in.attributes == 3 ? HostTransferType::kInterrupt
                                                       : HostTransferType::kBulk);
                EXPECT_EQ(s.length, TransferSlot::kBufferSize);
            }
        }
        using Writes = std::vector<std::vector<uint8_t>>;
        EXPECT_EQ(writes,
                  (c.firmware_init ? Writes{{0x80, 0x00}, {0x8B}, {0x80, 0x01}} : Writes{}));
    }
}

// Requests as the older, buffered form and straight through the handle: control OUT, bulk
// OUT and IN with the header in front, abort, and what is refused.
TEST(HostUsbDriver, BufferedRequestsAbortAndRefusals) {
    sim::SimBoard board = Tuner();
    board.interfaces = {{0, 0, {{0x81, 2, 512, 0}, {0x01, 2, 512, 0}, {0x82, 1, 1024, 1}}}};
    Bus bus({MakeFakeBoard(board, 1, 3)});
    UsbDevice usb(*bus.driver, nullptr, kFx2InterfaceClass, false);
    ASSERT_TRUE(usb.Open(0));
    UsbEndpoint* in = usb.bulk_in;
    UsbEndpoint* out = usb.bulk_out;
    ASSERT_TRUE(in && out);
    in->direct = out->direct = false;

    std::array<uint8_t, 3> sent{1, 2, 3};
    std::vector<uint8_t> got(1000);
    uint32_t length = 3;
    EXPECT_TRUE(out->TransferSync(sent, length) && length == 3);
    length = 1000;
    EXPECT_TRUE(in->TransferSync(got, length) && length == 1000);
    EXPECT_EQ(bus.host->StreamCrc(), Crc32Update(kCrc32Initial, got));
    EXPECT_EQ(got[0], 0x47);

    // A vendor request the firmware stalls: the status word comes back, the request fails.
    UsbEndpoint& control = *usb.ControlEndpoint();
    std::tie(control.type, control.direction, control.request, control.value) =
        std::tuple(2, 0, 0xB5, 0x1234);
    std::array<uint8_t, 2> payload{0xAA, 0xBB};
    length = 2;
    EXPECT_FALSE(control.TransferSync(payload, length));
    EXPECT_EQ(control.last_usb_status.load(), 0xC0000004u);
    const auto submits = bus.host->Submits();
    EXPECT_EQ(submits.back().data,
              (std::vector<uint8_t>{0x40, 0xB5, 0x34, 0x12, 0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(submits.back().length, 10u);

    // Abort ends every pending read on that endpoint and waits until the host gave them back.
    bus.host->HoldData(true);
    in->direct = true;
    std::array<Overlapped, 4> overlapped;
    std::array<std::unique_ptr<TransferContext>, 4> contexts;
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(512));
    for (size_t i = 0; i < 4; ++i) {
        contexts[i] = in->BeginTransfer(buffers[i], overlapped[i]);
        EXPECT_EQ(contexts[i]->begin_error, kErrorIoPending);
    }
    EXPECT_EQ(bus.host->Pending(), 4u);
    EXPECT_TRUE(in->AbortPipe());
    EXPECT_EQ(bus.host->Pending(), 0u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(overlapped[i].Done());
        EXPECT_FALSE(in->FinishTransfer(buffers[i], length, overlapped[i], std::move(contexts[i])));
    }

    // Isochronous endpoints are refused at the begin, not left pending.
    ASSERT_NE(usb.iso_in, nullptr);
    Overlapped never;
    std::vector<uint8_t> iso_buffer(1024);
    EXPECT_EQ(usb.iso_in->BeginTransfer(iso_buffer, never)->begin_error, kErrorNotSupported);
    EXPECT_EQ(bus.host->Pending(), 0u);
    EXPECT_TRUE(usb.Close());
}

TEST(HostUsbDriver, UnplugDuringCaptureEndsTransfersAsFailures) {
    Recipient recipient;
    Bus bus({MakeFakeBoard(Tuner(), 1, 3)}, Stream(30));
    auto& dev = *bus.device;
    ASSERT_TRUE(dev.Open("", &recipient, nullptr));
    ASSERT_TRUE(dev.Connect(0, 0x81, kNoEndpoint));
    ASSERT_TRUE(WaitFor([&] { return bus.sink.Bytes() > 0; }));
    bus.host->Unplug(0);
    // The class notice and the handle notice of the open device.
    EXPECT_EQ(recipient.removals.load(), 2);
    ASSERT_TRUE(WaitFor([&] { return dev.failure_count.load() > 0; }));
    const uint64_t at_unplug = bus.host->BytesStreamed();
    ASSERT_TRUE(dev.Disconnect());
    EXPECT_EQ(bus.sink.Bytes(), at_unplug);
    EXPECT_EQ(std::tuple(bus.host->Pending(), bus.host->OpenHandles(), dev.GetDeviceCount()),
              std::tuple(0u, 0, 0));
    // Every read the host took was collected, as data or as a failure; after the unplug the
    // submits themselves fail and count too.
    const auto reads =
        std::ranges::count(bus.host->Submits(), uint8_t{0x81}, &FakeSubmit::endpoint);
    EXPECT_GE(dev.success_count.load() + dev.failure_count.load(), static_cast<uint64_t>(reads));

    bus.host->Plug(0);
    EXPECT_EQ(recipient.arrivals.load(), 1);
    EXPECT_EQ(dev.GetDeviceCount(), 1);
    // Notices of devices that are not tuners stay out.
    FakeUsbHost other(Stream(), {MakeFakeBoard(Tuner(0x046D, 0xC077), 5, 5)});
    EXPECT_FALSE(bus.driver->IsTuner(other.Devices().front()));
}

TEST(CombinedUsbDriver, RealTunersComeBeforeTheSimulatedOne) {
    auto sim_tuner = sim::MakeSimulatedTuner();
    Bus bus({MakeFakeBoard(Tuner(), 1, 3)});
    CombinedUsbDriver both({bus.driver.get(), sim_tuner.driver.get()});
    Recipient recipient;
    CDTV_EzUSBFX2 dev(both);
    ASSERT_TRUE(dev.Open("", &recipient, nullptr));
    EXPECT_EQ(Names(dev),
              (std::vector<std::string>{"FX2 TS (bus 1, port 1)", "Simulated FX2 tuner"}));
    EXPECT_FALSE(both.InterfacePath(kFx2InterfaceClass, 2).has_value());
    // Each backend reports its own devices' changes to the one recipient.
    bus.host->Unplug(0);
    sim_tuner.driver->Unplug(0);
    EXPECT_EQ(recipient.removals.load(), 2);
    EXPECT_EQ(dev.GetDeviceCount(), 0);
    dev.Close();
    bus.host->Plug(0);
    EXPECT_EQ(recipient.arrivals.load(), 0);  // unregistered with the close
}

}  // namespace
}  // namespace tavrel
