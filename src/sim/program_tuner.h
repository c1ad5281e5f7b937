#pragma once

#include <memory>
#include <string>

#include "device/dtv_ezusbfx2.h"
#include "device/usb_host.h"
#include "sim/simulated_fx2.h"

namespace tavrel::sim {

struct ProgramTunerConfig {
    SimulatedFx2Config simulated;
    // "EXTRA_USB_IDS" of tavrel.ini: vendor:product pairs taken for tuners besides the FX2
    // vendors.
    std::string extra_usb_ids;
    bool real_tuners = true;  // false: the simulated tuner alone
};

// The tuner of the program and of tavrel-cli: one CDTV_EzUSBFX2 whose device list holds the
// FX2 tuners plugged into this machine first, then the built-in simulated tuner.
struct ProgramTuner {
    std::shared_ptr<void> backing;  // the drivers: must outlive `device`
    std::unique_ptr<CDTV_EzUSBFX2> device;
    SimulatedFx2* simulated = nullptr;  // the built-in tuner, owned by `backing`
    // Why real tuners are missing from the list or what of the settings was ignored; empty
    // when all is well.
    std::string note;
};

// Throws what SimulatedFx2 throws for a stream it cannot make. `host` replaces this machine's
// USB library (tests); without it libusb is used, and when that cannot start the list holds
// the simulated tuner alone.
ProgramTuner MakeProgramTuner(ProgramTunerConfig config, std::unique_ptr<UsbHost> host = nullptr);

}  // namespace tavrel::sim
