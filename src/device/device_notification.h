#pragma once

namespace tavrel {

// Told when a tuner of the watched interface class is plugged in or pulled out; the main
// window searches the devices again. Called on whatever thread the driver reports from.
class DeviceNotificationRecipient {
public:
    virtual ~DeviceNotificationRecipient() = default;
    virtual void OnDeviceChange(bool arrival) = 0;
};

}  // namespace tavrel
