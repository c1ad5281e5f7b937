#include "device/combined_usb_driver.h"

namespace tavrel {

int CombinedUsbDriver::InterfaceCount(const std::string& interface_class) {
    int count = 0;
    for (UsbDriver* backend : backends_) {
        count += backend->InterfaceCount(interface_class);
    }
    return count;
}

std::optional<std::string> CombinedUsbDriver::InterfacePath(const std::string& interface_class,
                                                            int index) {
    if (index < 0) {
        return std::nullopt;
    }
    for (UsbDriver* backend : backends_) {
        const int count = backend->InterfaceCount(interface_class);
        if (index < count) {
            return backend->InterfacePath(interface_class, index);
        }
        index -= count;
    }
    return std::nullopt;
}

std::unique_ptr<UsbDriverHandle> CombinedUsbDriver::OpenPath(const std::string& path) {
    for (UsbDriver* backend : backends_) {
        if (auto handle = backend->OpenPath(path)) {
            return handle;
        }
    }
    return nullptr;
}

NotificationId CombinedUsbDriver::RegisterClassNotification(
    const std::string& interface_class, DeviceNotificationRecipient* recipient) {
    std::vector<std::pair<UsbDriver*, NotificationId>> ids;
    for (UsbDriver* backend : backends_) {
        if (const NotificationId id =
                backend->RegisterClassNotification(interface_class, recipient)) {
            ids.emplace_back(backend, id);
        }
    }
    if (ids.empty()) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    registrations_[next_] = std::move(ids);
    return next_++;
}

NotificationId CombinedUsbDriver::RegisterHandleNotification(
    UsbDriverHandle& handle, DeviceNotificationRecipient* recipient) {
    // Only the backend that opened the handle knows it.
    for (UsbDriver* backend : backends_) {
        if (const NotificationId id = backend->RegisterHandleNotification(handle, recipient)) {
            std::lock_guard lock(mutex_);
            registrations_[next_] = {{backend, id}};
            return next_++;
        }
    }
    return 0;
}

bool CombinedUsbDriver::Unregister(NotificationId id) {
    std::vector<std::pair<UsbDriver*, NotificationId>> ids;
    {
        std::lock_guard lock(mutex_);
        const auto it = registrations_.find(id);
        if (it == registrations_.end()) {
            return false;
        }
        ids = std::move(it->second);
        registrations_.erase(it);
    }
    bool ok = true;
    for (const auto& [backend, backend_id] : ids) {
        ok = backend->Unregister(backend_id) && ok;
    }
    return ok;
}

}  // namespace tavrel
