#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window_state.h"
#include "device/dtv_base.h"
#include "sim/multiplex.h"

namespace tavrel::cli {

// What `tavrel-cli capture` was asked to do.
struct CaptureOptions {
    bool list_devices = false;
    int device = 0;
    std::optional<uint16_t> in_endpoint;
    std::optional<uint16_t> out_endpoint;  // kNoEndpoint for "none"
    bool firmware_init = false;
    sim::MultiplexConfig multiplex;     // the simulated tuner's stream
    std::string source;                 // a .ts file the simulated tuner plays in a loop instead
    uint32_t seconds = 0;               // 0: until interrupted
    std::string record;                 // a file, or empty
    bool record_auto = false;           // the automatic name in "REC_AUTOPATH"
    std::optional<int32_t> stop_timer;  // minutes
    std::string udp_host;               // empty: no sending
    uint16_t udp_port = 0;
    std::optional<uint32_t> udp_size;
    std::string settings_dir;  // where tavrel.ini is read and written; empty: the working dir
    std::string schedule;      // a schedule.ini whose reservations are recorded; empty: none
};

// Throws UsageError.
CaptureOptions ParseCaptureOptions(const std::vector<std::string>& args);

// The tuner a capture runs on, with whatever it needs kept alive until after the device is
// gone (a driver backend the device borrows).
struct Tuner {
    std::shared_ptr<void> backing;
    std::unique_ptr<CDTV_Base> device;
};

// Makes the tuner; a null device with `error` set when there is none.
using DeviceFactory = std::function<Tuner(const CaptureOptions& options, std::string& error)>;

// The status line of one second, from the texts the main window shows (the reservation
// text of the status bar last, when there is one).
std::string StatusLine(const MainWindowState& window);

// The command with a given tuner factory; RunCapture (commands.h) uses the built-in one.
int RunCaptureWith(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const DeviceFactory& factory);

}  // namespace tavrel::cli
