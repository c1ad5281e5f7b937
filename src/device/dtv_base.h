#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/device_notification.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace tavrel {

// Data callback of a connected tuner: one completed transfer, the running total of bytes
// received split into its low and high 32 bits, and the user pointer given with it.
using DeviceDataCallback = void (*)(const uint8_t* data, uint32_t length, uint32_t total_low,
                                    uint32_t total_high, void* user);

// Thread priority numbers as stored in the settings: 0 normal, 1 above normal, 2 highest.
ThreadPriority ThreadPriorityFromSetting(int32_t value);

// What GetEndpointInfo reports of one endpoint of the current interface.
struct EndpointInfo {
    uint8_t length = 0;
    uint8_t descriptor_type = 0;
    uint8_t address = 0;     // bit 7 set for IN
    uint8_t attributes = 0;  // transfer type in bits 0-1: 2 = bulk, 3 = interrupt
    uint16_t max_packet_size = 0;
    uint16_t transactions_per_microframe = 0;
    uint32_t interval = 0;
    uint32_t timeout_ms = 0;
    uint32_t usb_status = 0;
    uint32_t driver_status = 0;
};

inline constexpr uint16_t kNoEndpoint = 0xFFFF;
inline constexpr uint32_t kCapabilityChannel = 1;
inline constexpr uint32_t kCapabilityText = 2;

// The tuner as the rest of the program sees it: discovery, endpoint lists, streaming into a
// data callback and the transfer statistics of the "USB転送状況" group.
class CDTV_Base {
public:
    explicit CDTV_Base(const Clock& clock = SystemClock::Instance()) : clock_(clock) {
        ResetStatistics();
    }
    virtual ~CDTV_Base() = default;
    CDTV_Base(const CDTV_Base&) = delete;
    CDTV_Base& operator=(const CDTV_Base&) = delete;

    // name is unused by the USB devices; recipient gets arrival and removal notifications;
    // interface_class null means the device's default class.
    virtual bool Open(const char* name, DeviceNotificationRecipient* recipient,
                      const char* interface_class) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual uint32_t GetCapabilities() const = 0;
    virtual int GetDeviceCount() = 0;
    virtual bool GetDeviceName(int index, char* buffer, size_t size) = 0;
    virtual int GetEndpointCount(int index) = 0;
    virtual bool GetEndpointInfo(int index, int endpoint_index, EndpointInfo& info) = 0;
    virtual bool HasEndpoint(int index, uint16_t address) = 0;
    virtual bool Connect(int index, uint16_t in_address, uint16_t out_address) = 0;
    virtual bool Disconnect() = 0;
    virtual bool IsConnected() const = 0;
    virtual char* GetStatusText(char* buffer, size_t size) {
        if (size > 0)
            buffer[0] = '\0';
        return buffer;
    }
    virtual int GetChannelCount() { return 0; }
    virtual int GetChannelName(int /*index*/, char* buffer, size_t size) {
        if (size > 0)
            buffer[0] = '\0';
        return -1;
    }
    virtual bool SetChannel(int /*channel*/) { return false; }
    virtual int GetChannel() { return -1; }
    virtual int SendText(const char* /*text*/) { return 0; }
    // Bodies of the two transfer threads; a device without them streams nothing.
    virtual int SubmitLoop() { return 0; }
    virtual int CompletionLoop() { return 0; }

    // Statistics reset: at every Connect and on the "クリア" command.
    void ResetStatistics() {
        start_tick.store(clock_.TickCount(), std::memory_order_relaxed);
        success_count.store(0, std::memory_order_relaxed);
        failure_count.store(0, std::memory_order_relaxed);
        total_bytes.store(0, std::memory_order_relaxed);
    }

    DeviceDataCallback data_callback = nullptr;
    void* callback_user = nullptr;
    int32_t submit_priority = 0;      // "THREAD_PRIORITY_REC"
    int32_t completion_priority = 0;  // "THREAD_PRIORITY_RES"

    // Written by the completion thread, read by the status display without a lock.
    std::atomic<uint32_t> start_tick{0};
    std::atomic<uint32_t> success_count{0};
    std::atomic<uint32_t> failure_count{0};
    std::atomic<uint64_t> total_bytes{0};

protected:
    const Clock& clock_;
};

}  // namespace tavrel
