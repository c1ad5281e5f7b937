#include "sim/program_tuner.h"

#include "device/combined_usb_driver.h"
#include "device/host_usb_driver.h"

namespace tavrel::sim {
namespace {

// Declared in destruction order reversed: the combined view goes first, the backends after.
struct Backing {
    std::unique_ptr<SimulatedFx2> simulated;
    std::unique_ptr<HostUsbDriver> real;
    std::unique_ptr<CombinedUsbDriver> combined;
};

}  // namespace

ProgramTuner MakeProgramTuner(ProgramTunerConfig config, std::unique_ptr<UsbHost> host) {
    auto backing = std::make_shared<Backing>();
    ProgramTuner tuner;
    const std::string interface_class = config.simulated.interface_class;
    backing->simulated = std::make_unique<SimulatedFx2>(std::move(config.simulated));
    std::vector<UsbDriver*> backends;
    if (config.real_tuners) {
        std::string error;
        if (!host) {
            host = MakeLibusbHost(error);
        }
        if (host) {
            std::vector<std::string> rejected;
            auto ids = ParseUsbIds(config.extra_usb_ids, &rejected);
            for (const auto& entry : rejected) {
                tuner.note += (tuner.note.empty() ? "" : "; ") +
                              ("EXTRA_USB_IDS: '" + entry + "' is not VENDOR:PRODUCT in hex");
            }
            backing->real =
                std::make_unique<HostUsbDriver>(std::move(host), std::move(ids), interface_class);
            backends.push_back(backing->real.get());
        } else {
            tuner.note = "real tuners are not listed: " + error;
        }
    }
    backends.push_back(backing->simulated.get());
    backing->combined = std::make_unique<CombinedUsbDriver>(std::move(backends));
    tuner.device = std::make_unique<CDTV_EzUSBFX2>(*backing->combined);
    tuner.simulated = backing->simulated.get();
    tuner.backing = std::move(backing);
    return tuner;
}

}  // namespace tavrel::sim
