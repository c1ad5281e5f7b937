#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "device/device_notification.h"
#include "platform/event.h"

namespace tavrel {

// Error codes of the driver port, with the values of the system the design comes from.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// One overlapped request in flight: the driver completes it once, from any thread, and the
// issuer waits for it or asks for its result without waiting. Completion is sticky, so
// waiting again after a completed wait returns at once. The driver's writes into the
// request's buffers happen before Complete, and a caller that saw the completion (through
// Wait or Result) sees them.
class Overlapped {
public:
    // Called by the driver.
    void Complete(uint32_t bytes, bool success) {
        bytes_ = bytes;
        success_ = success;
        // Publishes the fields above; the event touches nothing of this object after that, so
        // a waiter that sees the completion may free it at once.
        done_.Set();
    }

    // True when the request completed within timeout_ms (0xFFFFFFFF: no limit).
    bool Wait(uint32_t timeout_ms) { return done_.Wait(timeout_ms); }
    // The result without waiting: false while pending or when the request failed.
    bool Result(uint32_t& bytes) {
        if (!done_.Test()) {
            bytes = 0;
            return false;
        }
        bytes = bytes_;
        return success_;
    }
    bool Done() { return done_.Test(); }

private:
    Event done_{true};
    uint32_t bytes_ = 0;
    bool success_ = false;
};

// An open device path of the driver.
class UsbDriverHandle {
public:
    virtual ~UsbDriverHandle() = default;

    // One synchronous request; `in` and `out` may be the same bytes. `returned` gets the
    // bytes written to `out`. False when the driver refuses the request.
    virtual bool Request(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                         uint32_t& returned) = 0;
    // Begins an overlapped request: kErrorSuccess (completed at once, `overlapped` already
    // complete), kErrorIoPending, or another error code (failed, `overlapped` untouched).
    // `in` is read before the call returns; `out` and `overlapped` must stay alive until the
    // request completes.
    virtual uint32_t Begin(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                           Overlapped& overlapped) = 0;
    // Closes the handle. Every request still pending on it has completed (as failed) when
    // this returns, so its buffers may be freed. False when the driver reports a failure.
    virtual bool Close() = 0;
};

using NotificationId = uint64_t;

// What the device layer uses of the operating system to reach the tuner's kernel driver:
// device-interface enumeration, opening a path, requests, and device-change notifications.
// Implemented by the simulated tuner (sim/simulated_fx2.h) and by hardware backends.
class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    // Present devices exposing the interface class (a GUID text such as "{AE18...}").
    virtual int InterfaceCount(const std::string& interface_class) = 0;
    // Device path of interface `index`, none when the index is out of range.
    virtual std::optional<std::string> InterfacePath(const std::string& interface_class,
                                                     int index) = 0;
    // Null when the path cannot be opened (removed, unknown).
    virtual std::unique_ptr<UsbDriverHandle> OpenPath(const std::string& path) = 0;

    // Arrival and removal of any device of the class go to `recipient`; 0 on failure.
    virtual NotificationId RegisterClassNotification(const std::string& interface_class,
                                                     DeviceNotificationRecipient* recipient) = 0;
    // Removal of the device behind `handle` goes to `recipient`; 0 on failure.
    virtual NotificationId RegisterHandleNotification(UsbDriverHandle& handle,
                                                      DeviceNotificationRecipient* recipient) = 0;
    // False when the id is unknown.
    virtual bool Unregister(NotificationId id) = 0;
};

}  // namespace tavrel
