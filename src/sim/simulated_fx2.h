#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/dtv_ezusbfx2.h"
#include "device/usb_driver.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sim/multiplex.h"

namespace tavrel::sim {

struct SimEndpoint {
    uint8_t address = 0x81;
    uint8_t attributes = 2;     // 1 isochronous, 2 bulk, 3 interrupt
    uint16_t max_packet = 512;  // wMaxPacketSize as sent (bits 11-12: extra transactions)
    uint8_t interval = 0;
};

struct SimInterface {
    uint8_t number = 0;
    uint8_t alternate = 0;
    std::vector<SimEndpoint> endpoints;
};

// What one simulated board reports. The default: one interface with bulk IN 0x81 and bulk
// OUT 0x01 of 512-byte packets, a high-speed device on a driver taking direct requests.
struct SimBoard {
    uint16_t vendor_id = 0x0547;
    uint16_t product_id = 0x1002;
    std::string manufacturer = "Tavrel";
    std::string product = "Simulated FX2 tuner";
    std::string serial = "SIM0001";
    std::string device_name = "Simulated FX2 tuner";
    std::string friendly_name = "Simulated FX2 tuner (ISDB)";
    uint32_t driver_version = 0x01050500;
    uint32_t usbdi_version = 0x00000600;
    uint8_t address = 1;
    uint32_t speed = 2;  // high
    uint8_t current_alternate = 0;
    std::vector<SimInterface> interfaces = {{0, 0, {{0x81, 2, 512, 0}, {0x01, 2, 512, 0}}}};
};

enum class Pacing { kRealTime, kAsFastAsPossible };

// Where the IN data comes from: the generated multiplex, or a .ts file played in a loop.
struct SimStream {
    MultiplexConfig multiplex;           // its seconds bound one pass; packet size and faults apply
    std::string ts_file;                 // when set, replaces the multiplex
    uint64_t file_bitrate = 24'000'000;  // bits per second of the file in real time
    Pacing pacing = Pacing::kRealTime;
    bool loop = true;  // start again at the end; otherwise reads stay pending there
    // Keep a running CRC of the bytes handed out (StreamCrc): a check for tests, not paid for
    // by a capture.
    bool digest = false;
};

struct SimFaults {
    bool no_data = false;      // reads stay pending until aborted or the handle closes
    uint32_t fail_every = 0;   // every n-th read fails at once (1: every read)
    bool short_reads = false;  // reads return varying lengths below the one requested
    uint32_t slow_ms = 0;      // a read completes only this long after it was queued
};

struct SimulatedFx2Config {
    std::vector<SimBoard> boards = {SimBoard{}};
    SimStream stream;
    SimFaults faults;
    std::string interface_class = kFx2InterfaceClass;
};

// A request the simulator received. `data`: the bytes sent on an OUT endpoint, the 5 bytes
// of a set-transfer-size, the endpoint of an abort, the header of a control or IN transfer.
struct LoggedRequest {
    uint32_t code = 0;
    int device = 0;
    uint8_t endpoint = 0;
    std::vector<uint8_t> data;
};

// The program's built-in tuner: a driver port backend that honours every request of the
// generic FX2 driver and streams a generated multiplex (or a file) on any IN endpoint. A
// service thread completes the pending reads in order, paced by `clock`.
class SimulatedFx2 final : public UsbDriver {
public:
    // Throws std::runtime_error when the stream file cannot be opened and
    // std::invalid_argument for a multiplex configuration the generator refuses.
    explicit SimulatedFx2(SimulatedFx2Config config = {},
                          const Clock& clock = SystemClock::Instance());
    ~SimulatedFx2() override;

    int InterfaceCount(const std::string& interface_class) override;
    std::optional<std::string> InterfacePath(const std::string& interface_class,
                                             int index) override;
    std::unique_ptr<UsbDriverHandle> OpenPath(const std::string& path) override;
    NotificationId RegisterClassNotification(const std::string& interface_class,
                                             DeviceNotificationRecipient* recipient) override;
    NotificationId RegisterHandleNotification(UsbDriverHandle& handle,
                                              DeviceNotificationRecipient* recipient) override;
    bool Unregister(NotificationId id) override;

    // Pulls the board out: removal notices, pending reads fail, its handles refuse everything.
    void Unplug(int device);
    // Puts it back (new handles work again) with an arrival notice.
    void Plug(int device);
    void SetFaults(const SimFaults& faults);

    std::vector<LoggedRequest> Requests() const;
    // Bytes handed out by completed reads, and their running CRC-32/MPEG-2 (from 0xFFFFFFFF;
    // it stays there unless the stream's `digest` is on).
    uint64_t BytesStreamed() const;
    uint32_t StreamCrc() const;
    uint64_t ReadsCompleted() const;
    // Reads begun into a buffer that a still-pending read of the same handle writes into.
    uint64_t OverlappingReads() const;

    class Handle;

private:
    struct Read {
        uint64_t handle = 0;
        int device = 0;
        uint8_t endpoint = 0;
        Overlapped* overlapped = nullptr;
        std::span<uint8_t> out;  // where the data goes (after the header when buffered)
        bool buffered = false;
        uint32_t want = 0;
        uint32_t begin_tick = 0;
        bool filling = false;  // at the front of its device's reads, taking data
        uint32_t fill_tick = 0;
        uint64_t sequence = 0;
    };
    struct Device;
    class Source;

    friend class Handle;
    bool HandleRequest(uint64_t handle, int device, uint32_t code, std::span<const uint8_t> in,
                       std::span<uint8_t> out, uint32_t& returned);
    uint32_t HandleBegin(uint64_t handle, int device, uint32_t code, std::span<const uint8_t> in,
                         std::span<uint8_t> out, Overlapped& overlapped);
    void CloseHandle(uint64_t handle);
    uint32_t Control(const Device& dev, std::span<const uint8_t> in, std::span<uint8_t> out);
    bool Usable(uint64_t handle, int device) const;
    void FailReads(const std::function<bool(const Read&)>& which);
    void Log(LoggedRequest request);
    void Serve();
    uint64_t Budget(Device& dev, uint32_t now) const;

    const SimulatedFx2Config config_;
    const Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    SimFaults faults_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::deque<Read> reads_;
    std::vector<uint64_t> open_handles_;
    uint64_t next_handle_ = 1;
    uint64_t read_sequence_ = 0;
    struct Registration {
        DeviceNotificationRecipient* recipient = nullptr;
        int device = -1;  // -1: the whole class
    };
    std::map<NotificationId, Registration> registrations_;
    NotificationId next_registration_ = 1;
    std::vector<LoggedRequest> log_;
    uint64_t bytes_streamed_ = 0;
    uint32_t stream_crc_ = 0xFFFFFFFF;
    uint64_t reads_completed_ = 0;
    uint64_t overlapping_reads_ = 0;
    std::unique_ptr<Thread> thread_;
};

// The built-in device: the simulated driver and a CDTV_EzUSBFX2 over it, destroyed in the
// right order (the device first).
struct SimulatedTuner {
    std::unique_ptr<SimulatedFx2> driver;
    std::unique_ptr<CDTV_EzUSBFX2> device;
};

SimulatedTuner MakeSimulatedTuner(SimulatedFx2Config config = {},
                                  const Clock& clock = SystemClock::Instance());

}  // namespace tavrel::sim
