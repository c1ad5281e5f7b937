#pragma once

namespace tavrel {

// A tuner that can send the firmware-init commands when it connects. The main window offers
// its check box only for such devices, and a capture start passes the box's state on.
class FirmwareInitCapable {
public:
    virtual ~FirmwareInitCapable() = default;
    virtual void SetFirmwareInit(bool on) = 0;
};

}  // namespace tavrel
