#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/device_notification.h"
#include "device/usb_driver.h"

namespace tavrel {

enum class EndpointKind : uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

// One transfer in flight: the request block (header, and the data when buffered) and the
// result of its own begin call, so each transfer is judged by how it was begun even while
// later ones are queued on the same endpoint.
struct TransferContext {
    std::vector<uint8_t> block;
    uint32_t begin_error = kErrorSuccess;
    bool buffered = false;
    bool in = false;
};

// One endpoint of the open device, reached through the driver's transfer requests.
// BeginTransfer may run on one thread while WaitTransfer and FinishTransfer run on another;
// the "last" fields are atomics for that reason.
class UsbEndpoint {
public:
    static constexpr uint32_t kDefaultTimeoutMs = 10000;

    // From a 7-byte endpoint descriptor; direct requests when the driver is new enough.
    UsbEndpoint(UsbDriverHandle& handle, std::span<const uint8_t> descriptor,
                uint32_t driver_version);
    // Endpoint 0: vendor requests to the device, out, until the fields say otherwise.
    static std::unique_ptr<UsbEndpoint> Control(UsbDriverHandle& handle, uint16_t max_packet);

    EndpointKind Kind() const { return static_cast<EndpointKind>(attributes & 3); }

    // Queues a transfer of `buffer` (read into for IN, sent for OUT). The context is needed by
    // WaitTransfer and FinishTransfer; `buffer` and `overlapped` must live until it completes.
    std::unique_ptr<TransferContext> BeginTransfer(std::span<uint8_t> buffer,
                                                   Overlapped& overlapped);
    // True when the transfer completed at its begin or completes within timeout_ms.
    bool WaitTransfer(const TransferContext& context, Overlapped& overlapped, uint32_t timeout_ms);
    // Result of a completed transfer: `length` gets the bytes moved. True only when the
    // driver succeeded with both status words 0.
    bool FinishTransfer(std::span<uint8_t> buffer, uint32_t& length, Overlapped& overlapped,
                        std::unique_ptr<TransferContext> context);
    // Begin, wait up to `timeout_ms` (aborting and then waiting for the abort on expiry),
    // finish. `length` is the bytes to move in, the bytes moved out.
    bool TransferSync(std::span<uint8_t> buffer, uint32_t& length);
    bool AbortPipe();
    // Rounds up to a multiple of the maximum packet size before telling the driver.
    bool SetTransferSize(uint32_t bytes);

    uint8_t descriptor_length = 0;
    uint8_t descriptor_type = 0;
    uint8_t address = 0;
    uint8_t attributes = 0;
    uint16_t max_packet_size = 0;  // including the additional transactions
    uint16_t transactions = 0;     // per microframe
    uint32_t interval = 0;
    bool in = false;
    bool direct = true;
    uint32_t timeout_ms = kDefaultTimeoutMs;

    // Control endpoint only: the setup fields of the next request.
    uint8_t target = 0;     // 0 device, 1 interface, 2 endpoint
    uint8_t type = 2;       // 0 standard, 1 class, 2 vendor
    uint8_t direction = 0;  // 0 out, 1 in
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;

    std::atomic<uint32_t> last_usb_status{0};
    std::atomic<uint32_t> last_driver_status{0};
    std::atomic<uint32_t> bytes_transferred{0};
    std::atomic<uint32_t> last_error{0};

private:
    explicit UsbEndpoint(UsbDriverHandle& handle) : handle_(handle) {}

    UsbDriverHandle& handle_;
};

// An interface (one alternate setting) of a configuration.
struct UsbInterface {
    uint8_t number = 0;
    uint8_t alternate = 0;
    uint8_t interface_class = 0;
    std::vector<std::unique_ptr<UsbEndpoint>> endpoints;
};

struct UsbDeviceDescriptor {
    uint16_t usb_version = 0;
    uint8_t device_class = 0;
    uint8_t subclass = 0;
    uint8_t protocol = 0;
    uint8_t max_packet0 = 0;
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint16_t release = 0;
    uint8_t manufacturer_index = 0;
    uint8_t product_index = 0;
    uint8_t serial_index = 0;
    uint8_t configurations = 0;
};

// The driver's devices of one interface class: enumeration, one open device with its
// descriptors and endpoints, and the driver's value requests. Used by one thread at a time,
// except for the endpoints while streaming (see UsbEndpoint).
class UsbDevice {
public:
    static constexpr size_t kMaxInterfaces = 8;
    static constexpr size_t kMaxEndpoints = 16;

    // `driver` must outlive the object. With a recipient, arrivals and removals of the class
    // are reported to it; with `open`, device 0 is opened.
    UsbDevice(UsbDriver& driver, DeviceNotificationRecipient* recipient,
              std::string interface_class, bool open);
    // Closes and unregisters; failures are ignored here (call Close first to see them).
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    uint8_t DeviceCount();
    bool Open(int index);
    // Releases everything of the open device; false when the driver reported a failure
    // on the way (the rest is released all the same).
    bool Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // One synchronous request with `buffer` as input and output; false when nothing is open.
    bool Request(uint32_t code, std::span<uint8_t> buffer);
    uint32_t BytesReturned() const { return bytes_returned_; }

    // The current interface's endpoints after the control endpoint (index 0).
    int EndpointCount() const { return static_cast<int>(endpoints_.size()); }
    UsbEndpoint* EndpointAt(int i) const {
        return i >= 0 && i < EndpointCount() ? endpoints_[static_cast<size_t>(i)] : nullptr;
    }
    UsbEndpoint* ControlEndpoint() const { return control_.get(); }

    int device_number = 0;
    UsbDeviceDescriptor descriptor;
    uint16_t language = 0;
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serial_number;
    std::string device_name;
    std::string friendly_name;
    uint32_t driver_version = 0;
    uint32_t usbdi_version = 0;
    uint8_t device_address = 0;
    uint8_t alternate_setting = 0;
    bool high_speed = false;
    std::vector<std::vector<uint8_t>> configuration_descriptors;
    UsbEndpoint* bulk_in = nullptr;
    UsbEndpoint* bulk_out = nullptr;
    UsbEndpoint* interrupt_in = nullptr;
    UsbEndpoint* interrupt_out = nullptr;
    UsbEndpoint* iso_in = nullptr;
    UsbEndpoint* iso_out = nullptr;

private:
    std::vector<uint8_t> ReadDescriptor(uint16_t value, uint16_t index, uint16_t length);
    std::u16string ReadString(uint8_t index);
    uint32_t RequestValue(uint32_t code, size_t size);
    std::string RequestText(uint32_t code);
    void ParseConfiguration(const std::vector<uint8_t>& bytes);
    void SelectInterface();
    void ResetValues();

    UsbDriver& driver_;
    DeviceNotificationRecipient* recipient_;
    std::string interface_class_;
    NotificationId class_notification_ = 0;
    NotificationId handle_notification_ = 0;
    std::unique_ptr<UsbDriverHandle> handle_;
    uint32_t bytes_returned_ = 0;
    std::unique_ptr<UsbEndpoint> control_;
    std::vector<std::vector<UsbInterface>> configurations_;
    std::vector<UsbEndpoint*> endpoints_;
};

}  // namespace tavrel
