#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "ts/mjd_time.h"

namespace tavrel {

// Everything the main window's status display reads, taken at one moment. Figures of an absent
// part (no device, no recorder, no sender) are left at zero.
struct StatusSnapshot {
    uint32_t now_tick = 0;

    // Device transfer statistics.
    uint32_t device_start_tick = 0;
    uint32_t success_count = 0;
    uint32_t failure_count = 0;
    std::string device_status;  // the device's own status text, UTF-8

    // StreamStats.
    double rate = 0.0;  // bytes per second
    uint32_t packet_length = 0;
    uint32_t sync_errors = 0;
    uint32_t discontinuities = 0;
    uint32_t scrambled = 0;
    uint32_t time_date = 0;  // MJD of the last time event, 0 = none yet
    uint32_t time_seconds = 0;
    uint32_t time_tick = 0;
    uint32_t overflow_resets = 0;
    uint32_t counter_sy = 0;
    uint32_t counter_st = 0;

    // Capture chunk buffer.
    uint32_t buffer_held = 0;
    uint32_t buffer_limit = 0;

    // Manual recording.
    bool recorder = false;       // a Recorder exists
    bool recorder_open = false;  // and has its file open
    uint64_t bytes_written = 0;
    uint64_t free_space = 0;
    uint32_t recording_start_tick = 0;
    uint32_t auto_stop_tick = 0;  // 0: no stop timer

    // UDP sending.
    bool sender = false;
    uint64_t bytes_sent = 0;
    std::array<uint8_t, 4> destination{};  // all 0 while the socket is closed
};

// The texts of one status display run and the actions it calls for.
struct StatusTexts {
    std::string time;                       // 1006
    std::string success;                    // 1007
    std::string failure;                    // 1008
    std::string rate;                       // 1009
    std::string device_status;              // 1011
    std::string buffer;                     // 1013
    std::string packet_length;              // 1014
    std::string sync_errors;                // 1015
    std::string discontinuities;            // 1022
    std::string scrambled;                  // 1018
    std::string broadcast_time;             // 1019
    std::string recording;                  // 1020
    std::string free_space;                 // 1021
    std::string udp;                        // 1024
    std::array<std::string, 2> status_bar;  // parts 0 (recording time) and 1 (auto-stop)

    // The broadcast clock moved on by the time since the last time event; nothing before the
    // first one.
    std::optional<MjdTime> broadcast_now;
    // The recording must stop: its disk is nearly full, or its stop timer ran out.
    bool stop_for_free_space = false;
    bool stop_for_timer = false;
};

// The status display as a function of what it reads.
StatusTexts FormatStatus(const StatusSnapshot& s);

// Pieces of it that other displays (the headless command's line) reuse.
std::string FormatElapsed(uint32_t seconds);      // "59", "1:01"
std::string FormatRate(double bytes_per_second);  // "15.26 Mbps"

// The reservation part of the status bar when the engine has nothing to say.
inline constexpr const char* kNoStatusText = " ";

}  // namespace tavrel
