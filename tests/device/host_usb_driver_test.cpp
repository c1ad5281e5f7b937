#include "device/host_usb_driver.h"

#include <gtest/gtest.h>

#include <tuple>

#include "device/combined_usb_driver.h"
#include "device/driver_requests.h"
#include "device/dtv_ezusbfx2.h"
#include "device/fake_usb_host.h"
#include "device/stream_sink.h"
#include "device/usb_device.h"

namespace tavrel {
namespace {

using test_support::Expected;
using test_support::FakeBoard;
using test_support::FakeUsbHost;
using test_support::MakeFakeBoard;
using test_support::Recipient;
using test_support::Sink;
using test_support::WaitFor;

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
        device->data_callback = &Sink::Callback;
        device->callback_user = &sink;
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

TEST(UsbIds, ReadsHexPairsAndNamesWhatItSkips) {
    std::vector<std::string> rejected;
    const auto ids =
        ParseUsbIds("04B4:1004, 0x0547:0x1002\tabcd:EF01 ,, 12345:1 nocolon :12 04b4:", &rejected);
    EXPECT_EQ(ids, (std::vector<UsbId>{{0x04B4, 0x1004}, {0x0547, 0x1002}, {0xABCD, 0xEF01}}));
    EXPECT_EQ(rejected, (std::vector<std::string>{"12345:1", "nocolon", ":12", "04b4:"}));
    EXPECT_TRUE(ParseUsbIds("").empty());
}

TEST(HostUsbDriver, ListsFx2TunersAndListedIdsByPlace) {
    sim::SimBoard hub = Tuner();
    auto hub_board = MakeFakeBoard(hub, 1, 2);
    hub_board.device.device_class = 9;
    sim::SimBoard keyboard = Tuner(0x04B4, 0x0101);
    keyboard.interfaces = {{0, 0, {{0x81, 3, 8, 10}}}};  // interrupt IN only
    sim::SimBoard writer = Tuner(0x04B4, 0x8613);
    writer.interfaces = {{0, 0, {{0x02, 2, 512, 0}}}};  // bulk OUT only: nothing to stream
    Bus bus({MakeFakeBoard(Tuner(), 4, 9), hub_board, MakeFakeBoard(keyboard, 3, 3),
             MakeFakeBoard(Tuner(0x1234, 0x5678, "Listed"), 2, 5),
             MakeFakeBoard(Tuner(0x1234, 0x9999), 6, 6), MakeFakeBoard(writer, 5, 4),
             MakeFakeBoard(Tuner(0x0547, 0x1002, "Second"), 1, 7)},
            Stream(), {{0x1234, 0x5678}});
    auto& dev = *bus.device;
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    EXPECT_EQ(Names(dev),
              (std::vector<std::string>{"Second (bus 1, port 1)", "Listed (bus 1, port 2)",
                                        "FX2 TS (bus 1, port 4)"}));
    EXPECT_EQ(bus.driver->InterfaceCount("{00000000-0000-0000-0000-000000000000}"), 0);
    // Listing opens each device but takes none from its kernel driver.
    EXPECT_EQ(bus.host->Claims(), 0);
    EXPECT_EQ(bus.host->OpenHandles(), 0);
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

TEST(HostUsbDriver, CaptureDeliversTheStreamOnceInOrder) {
    const struct {
        const char* name;
        sim::SimEndpoint in;
        uint32_t packet_size;
    } cases[] = {
        {"bulk", {0x81, 2, 512, 0}, 188},
        {"interrupt", {0x83, 3, 1024, 1}, 204},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimBoard board = Tuner();
        // A bulk IN endpoint makes it a tuner; the capture may use any IN endpoint.
        board.interfaces = {{0, 0, {{0x81, 2, 512, 0}, {0x01, 2, 512, 0}}}};
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
        dev.firmware_init = true;
        ASSERT_TRUE(dev.Connect(0, c.in.address, 0x01));
        ASSERT_TRUE(WaitFor([&] { return bus.sink.Bytes() >= bytes; }));
        EXPECT_EQ(bus.host->Claims(), 1);
        EXPECT_EQ(bus.host->KernelDriversBound(), 0);  // detached for the capture
        ASSERT_TRUE(dev.Disconnect());
        EXPECT_EQ(bus.sink.bytes, bytes);
        EXPECT_EQ(bus.sink.crc, crc);
        EXPECT_EQ(bus.host->StreamCrc(), crc);
        EXPECT_TRUE(bus.sink.totals_ok);
        // Closed: nothing left queued, the interface released to its kernel driver.
        EXPECT_EQ(bus.host->Pending(), 0u);
        EXPECT_EQ(bus.host->OpenHandles(), 0);
        EXPECT_EQ(bus.host->KernelDriversBound(), 1);

        // The firmware-init writes went out on the OUT endpoint; reads as the endpoint's kind.
        std::vector<std::vector<uint8_t>> writes;
        for (const auto& s : bus.host->Submits()) {
            if (s.endpoint == 0x01) {
                writes.push_back(s.data);
            } else if (s.endpoint == c.in.address) {
                EXPECT_EQ(s.type, c.in.attributes == 3 ? HostTransferType::kInterrupt
                                                       : HostTransferType::kBulk);
                EXPECT_EQ(s.length, TransferSlot::kBufferSize);
            }
        }
        EXPECT_EQ(writes, (std::vector<std::vector<uint8_t>>{{0x80, 0x00}, {0x8B}, {0x80, 0x01}}));
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
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    in->direct = out->direct = false;

    std::array<uint8_t, 3> sent{1, 2, 3};
    uint32_t length = 3;
    EXPECT_TRUE(out->TransferSync(sent, length));
    EXPECT_EQ(length, 3u);
    std::vector<uint8_t> got(1000);
    length = 1000;
    EXPECT_TRUE(in->TransferSync(got, length));
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(bus.host->StreamCrc(), Crc32Update(kCrc32Initial, got));
    EXPECT_EQ(got[0], 0x47);

    // A vendor request the firmware stalls: the status word comes back, the request fails.
    UsbEndpoint& control = *usb.ControlEndpoint();
    control.type = 2;
    control.direction = 0;
    control.request = 0xB5;
    control.value = 0x1234;
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
    std::vector<std::unique_ptr<Overlapped>> overlapped;
    std::vector<std::unique_ptr<TransferContext>> contexts;
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(512));
    for (auto& b : buffers) {
        overlapped.push_back(std::make_unique<Overlapped>());
        contexts.push_back(in->BeginTransfer(b, *overlapped.back()));
        EXPECT_EQ(contexts.back()->begin_error, kErrorIoPending);
    }
    EXPECT_EQ(bus.host->Pending(), 4u);
    EXPECT_TRUE(in->AbortPipe());
    EXPECT_EQ(bus.host->Pending(), 0u);
    for (size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_TRUE(overlapped[i]->Done());
        EXPECT_FALSE(
            in->FinishTransfer(buffers[i], length, *overlapped[i], std::move(contexts[i])));
    }

    // Isochronous endpoints are refused at the begin, not left pending.
    UsbEndpoint* iso = usb.iso_in;
    ASSERT_NE(iso, nullptr);
    Overlapped never;
    std::vector<uint8_t> iso_buffer(1024);
    EXPECT_EQ(iso->BeginTransfer(iso_buffer, never)->begin_error, kErrorNotSupported);
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
    EXPECT_EQ(bus.host->Pending(), 0u);
    EXPECT_EQ(bus.host->OpenHandles(), 0);
    EXPECT_EQ(dev.GetDeviceCount(), 0);

    bus.host->Plug(0);
    EXPECT_EQ(recipient.arrivals.load(), 1);
    EXPECT_EQ(dev.GetDeviceCount(), 1);
    // Notices of devices that are not tuners stay out.
    FakeUsbHost other(Stream(), {MakeFakeBoard(Tuner(0x046D, 0xC077), 5, 5)});
    EXPECT_FALSE(bus.driver->IsTuner(other.Devices().front()));
}

TEST(HostUsbDriver, ADeviceWithoutPermissionIsNamedNotLeftOut) {
    auto denied = MakeFakeBoard(Tuner(), 3, 8);
    denied.deny_open = true;
    Bus bus({denied});
    auto& dev = *bus.device;
    ASSERT_TRUE(dev.Open("", nullptr, nullptr));
    EXPECT_EQ(Names(dev),
              (std::vector<std::string>{
                  "USB 04B4:1004 (bus 1, port 3): no permission, install the udev rule"}));
    // No descriptors can be read: only the control endpoint, so nothing to capture from.
    EXPECT_EQ(dev.GetEndpointCount(0), 1);
    EXPECT_FALSE(dev.Connect(0, 0x81, kNoEndpoint));
    EXPECT_EQ(bus.host->Submits().size(), 0u);
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
