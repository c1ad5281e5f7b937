#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tavrel {

// The few things the real-tuner backend needs of the host's USB library (libusb-1.0 in the
// program, a fake in tests): the device list with what each device says of itself before it
// is opened, opening, claiming, asynchronous transfers and plug/unplug notices.

struct HostEndpoint {
    uint8_t address = 0;
    uint8_t attributes = 0;   // transfer type in bits 0-1
    uint16_t max_packet = 0;  // wMaxPacketSize as the descriptor has it
    uint8_t interface = 0;    // the interface number it belongs to
};

struct HostDevice {
    uint8_t bus = 0;
    std::vector<uint8_t> ports;  // the port path from the root hub
    uint8_t address = 0;
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint8_t device_class = 0;
    uint8_t manufacturer_index = 0;  // string descriptor indices
    uint8_t product_index = 0;
    uint32_t speed = 0;  // as the FX2 driver reports it: 1 low or full, 2 high, 4 super and up
    // Of the active configuration, every interface and alternate setting.
    std::vector<HostEndpoint> endpoints;
};

enum class HostError { kNone, kAccess, kNoDevice, kBusy, kNotFound, kNotSupported, kOther };

enum class HostStatus { kCompleted, kError, kTimedOut, kCancelled, kStall, kNoDevice, kOverflow };

enum class HostTransferType { kControl, kBulk, kInterrupt };

struct HostTransfer {
    HostTransferType type = HostTransferType::kBulk;
    uint8_t endpoint = 0;
    // Control: the 8-byte setup packet followed by the data stage. The buffer stays the
    // caller's and must live until `done` has run.
    std::span<uint8_t> buffer;
    uint32_t timeout_ms = 0;  // 0: none
    // Called exactly once, on the host's event thread, with the data-stage bytes moved.
    std::function<void(HostStatus, uint32_t actual)> done;
};

class UsbHostHandle {
public:
    // Releases what was claimed (re-attaching kernel drivers) and closes. No transfer may be
    // pending.
    virtual ~UsbHostHandle() = default;

    // Claims every interface of the active configuration, detaching a kernel driver first
    // where one is bound.
    virtual HostError ClaimInterfaces() = 0;
    // The string descriptor `index` in the device's first language; empty when unreadable.
    virtual std::string StringDescriptor(uint8_t index) = 0;
    // Queues the transfer; `token` names it for Cancel. On an error `done` is never called.
    virtual HostError Submit(HostTransfer transfer, uint64_t& token) = 0;
    // Asks for an early end; `done` then runs with kCancelled (or its real status when the
    // transfer ended first). Unknown tokens are ignored.
    virtual void Cancel(uint64_t token) = 0;
};

class UsbHost {
public:
    virtual ~UsbHost() = default;

    virtual std::vector<HostDevice> Devices() = 0;
    // Opens the device at `bus` with `address`; null with the reason in `error`.
    virtual std::unique_ptr<UsbHostHandle> Open(uint8_t bus, uint8_t address, HostError& error) = 0;
    // Every later plug (true) and unplug (false) goes to `notice`, on the event thread, until
    // the host is destroyed. False when the platform reports none.
    virtual bool WatchHotplug(std::function<void(bool arrival, const HostDevice&)> notice) = 0;
    // The library's version as 0xMMmmuuuu.
    virtual uint32_t LibraryVersion() const = 0;
};

}  // namespace tavrel
