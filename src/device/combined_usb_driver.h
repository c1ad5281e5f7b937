#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/usb_driver.h"

namespace tavrel {

// Several driver backends seen as one: the devices of the first come first, then those of
// the next. Device paths stay the backends' own, so each backend opens only its own paths.
// The backends must outlive this object.
class CombinedUsbDriver final : public UsbDriver {
public:
    explicit CombinedUsbDriver(std::vector<UsbDriver*> backends) : backends_(std::move(backends)) {}

    int InterfaceCount(const std::string& interface_class) override;
    std::optional<std::string> InterfacePath(const std::string& interface_class,
                                             int index) override;
    std::unique_ptr<UsbDriverHandle> OpenPath(const std::string& path) override;
    NotificationId RegisterClassNotification(const std::string& interface_class,
                                             DeviceNotificationRecipient* recipient) override;
    NotificationId RegisterHandleNotification(UsbDriverHandle& handle,
                                              DeviceNotificationRecipient* recipient) override;
    bool Unregister(NotificationId id) override;

private:
    const std::vector<UsbDriver*> backends_;
    std::mutex mutex_;
    // Our id → the backends' ids it stands for.
    std::map<NotificationId, std::vector<std::pair<UsbDriver*, NotificationId>>> registrations_;
    NotificationId next_ = 1;
};

}  // namespace tavrel
