#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/usb_driver.h"
#include "device/usb_host.h"

namespace tavrel {

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// Reads "04B4:1004, 0x0547:0x1002" (separated by commas or blanks). Entries that are not two
// hexadecimal 16-bit numbers around a colon are left out and, when `rejected` is given,
// listed there.
std::vector<UsbId> ParseUsbIds(std::string_view text, std::vector<std::string>* rejected = nullptr);

// Vendor ids of the FX2 bridges; every device of these vendors with a bulk IN endpoint is
// taken for a tuner (hubs excepted).
inline constexpr uint16_t kFx2Vendors[] = {0x04B4, 0x0547};
// The driver version this backend reports: new enough for direct transfers.
inline constexpr uint32_t kHostDriverVersion = 0x01050500;

// The driver port over the host's USB library: the FX2 tuners plugged into this machine.
// Each request of the generic FX2 driver becomes host calls: control, bulk and interrupt
// transfers as asynchronous host transfers completing the request's Overlapped on the host's
// event thread, abort pipe as cancellation, the value requests from what the host knows of
// the device. Isochronous transfers are refused (no tuner streams that way).
//
// A device that is present but may not be opened (no permission) is still listed: its handle
// answers only the name requests, with a name that says what is wrong, and refuses the rest.
class HostUsbDriver final : public UsbDriver {
public:
    HostUsbDriver(std::unique_ptr<UsbHost> host, std::vector<UsbId> extra_ids,
                  std::string interface_class);
    // Stops the host (and with it every notice) before anything else goes.
    ~HostUsbDriver() override;
    HostUsbDriver(const HostUsbDriver&) = delete;
    HostUsbDriver& operator=(const HostUsbDriver&) = delete;

    int InterfaceCount(const std::string& interface_class) override;
    std::optional<std::string> InterfacePath(const std::string& interface_class,
                                             int index) override;
    std::unique_ptr<UsbDriverHandle> OpenPath(const std::string& path) override;
    NotificationId RegisterClassNotification(const std::string& interface_class,
                                             DeviceNotificationRecipient* recipient) override;
    NotificationId RegisterHandleNotification(UsbDriverHandle& handle,
                                              DeviceNotificationRecipient* recipient) override;
    bool Unregister(NotificationId id) override;

    // Whether the device is taken for a tuner.
    bool IsTuner(const HostDevice& device) const;
    // Whether plug and unplug notices arrive.
    bool HasHotplug() const { return hotplug_; }

    class Handle;

private:
    std::vector<HostDevice> Tuners();
    void OnHotplug(bool arrival, const HostDevice& device);

    std::unique_ptr<UsbHost> host_;
    const std::vector<UsbId> extra_ids_;
    const std::string interface_class_;
    bool hotplug_ = false;

    struct Registration {
        DeviceNotificationRecipient* recipient = nullptr;
        bool whole_class = true;
        uint8_t bus = 0;  // the device of a handle notification
        uint8_t address = 0;
    };
    // Held while notices are delivered and by Unregister, so that a recipient is never called
    // after its registration is gone.
    std::mutex registrations_mutex_;
    std::map<NotificationId, Registration> registrations_;
    NotificationId next_registration_ = 1;
};

// The host's USB library of this machine; null, with the reason in `error`, when it cannot be
// used (no USB file system, as in many containers).
std::unique_ptr<UsbHost> MakeLibusbHost(std::string& error);

}  // namespace tavrel
