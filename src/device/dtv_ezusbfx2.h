#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/dtv_base.h"
#include "device/usb_device.h"
#include "device/usb_driver.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace tavrel {

// Device interface class of the generic FX2 driver.
inline constexpr const char* kFx2InterfaceClass = "{AE18AA60-7F6A-11D4-97DD-00010229B959}";

// One read in flight: its buffer, its completion and the driver's context.
struct TransferSlot {
    static constexpr uint32_t kBufferSize = 0x8000;

    std::unique_ptr<Overlapped> overlapped;
    UsbEndpoint* endpoint = nullptr;
    std::unique_ptr<TransferContext> context;
    std::array<uint8_t, kBufferSize> buffer{};
    uint32_t length = 0;
};

// A tuner behind an EZ-USB FX2 bridge on the generic driver. While connected, a submit
// thread keeps up to 32 reads of 32 KiB queued on the IN endpoint and a completion thread
// collects them oldest first and hands each block to the data callback.
//
// The device reaches the driver only through `driver`, which it borrows: the driver must
// outlive the device (sim::MakeSimulatedTuner returns the two together in that order).
class CDTV_EzUSBFX2 : public CDTV_Base {
public:
    static constexpr int kSlotCount = 32;
    static constexpr uint32_t kStopWaitMs = 10000;

    explicit CDTV_EzUSBFX2(UsbDriver& driver, const Clock& clock = SystemClock::Instance());
    ~CDTV_EzUSBFX2() override;

    bool Open(const char* name, DeviceNotificationRecipient* recipient,
              const char* interface_class) override;
    void Close() override;
    bool IsOpen() const override { return usb_ != nullptr; }
    uint32_t GetCapabilities() const override { return 0; }
    int GetDeviceCount() override;
    bool GetDeviceName(int index, char* buffer, size_t size) override;
    int GetEndpointCount(int index) override;
    bool GetEndpointInfo(int index, int endpoint_index, EndpointInfo& info) override;
    bool HasEndpoint(int index, uint16_t address) override;
    bool Connect(int index, uint16_t in_address, uint16_t out_address) override;
    bool Disconnect() override;
    bool IsConnected() const override { return connected_.load(std::memory_order_acquire); }
    int SubmitLoop() override;
    int CompletionLoop() override;

    // Set by the capture start from "HV_KELVRA_INIT" before Connect: the submit thread then
    // sends the firmware-init sequence on the OUT endpoint before the first read.
    bool firmware_init = false;
    // How long the completion thread waits for the oldest read before counting it failed.
    uint32_t transfer_wait_ms = 1000;

private:
    TransferSlot* TakeFront(std::deque<TransferSlot*>& list);
    void Append(std::deque<TransferSlot*>& list, TransferSlot* slot);
    // Makes sure the driver no longer holds the slot's read, then collects it.
    bool Collect(TransferSlot& slot, bool waited);
    void FreeSlots();

    UsbDriver& driver_;
    std::unique_ptr<UsbDevice> usb_;

    std::vector<std::unique_ptr<TransferSlot>> slots_;
    std::mutex list_lock_;
    std::deque<TransferSlot*> free_;
    std::deque<TransferSlot*> pending_;

    std::unique_ptr<Event> stop_;
    // Set when a slot goes back to the free list (and at stop): with every read in flight the
    // submit thread waits on it instead of waking each millisecond to find nothing to queue.
    Event slot_freed_{false};
    std::unique_ptr<Thread> submit_thread_;
    std::unique_ptr<Thread> completion_thread_;
    UsbEndpoint* in_ = nullptr;
    UsbEndpoint* out_ = nullptr;
    std::atomic<bool> connected_{false};
};

}  // namespace tavrel
