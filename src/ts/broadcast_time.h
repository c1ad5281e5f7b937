#pragma once

#include <cstdint>

#include "ts/mjd_time.h"

namespace tavrel {

// The clock of the last time section: its date and its time fields as the table carries them.
struct BroadcastClock {
    uint16_t mjd = 0;
    uint8_t hour = 0;  // two BCD digits each
    uint8_t minute = 0;
    uint8_t second = 0;

    // One word, so the clock can be read from another thread while the packet loop sets it.
    uint64_t Pack() const {
        return uint64_t{mjd} << 24 | uint64_t{hour} << 16 | uint64_t{minute} << 8 | second;
    }
    static BroadcastClock Unpack(uint64_t v) {
        return {static_cast<uint16_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    }
};

// Payload of the time event (32).
struct BroadcastTime {
    uint32_t mjd = 0;
    uint32_t seconds = 0;  // of the day
    uint32_t raw = 0;      // hour BCD | minute BCD << 8 | second BCD << 16
    uint8_t hour = 0;      // decimal
    uint8_t minute = 0;
    uint8_t second = 0;

    MjdTime Moment() const { return {mjd, seconds}; }
};

inline BroadcastTime MakeBroadcastTime(const BroadcastClock& clock) {
    BroadcastTime t;
    t.mjd = clock.mjd;
    t.seconds = BcdTimeToSeconds(clock.hour, clock.minute, clock.second);
    t.raw = uint32_t{clock.hour} | uint32_t{clock.minute} << 8 | uint32_t{clock.second} << 16;
    t.hour = static_cast<uint8_t>(BcdToNumber(clock.hour));
    t.minute = static_cast<uint8_t>(BcdToNumber(clock.minute));
    t.second = static_cast<uint8_t>(BcdToNumber(clock.second));
    return t;
}

}  // namespace tavrel
