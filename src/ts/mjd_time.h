#pragma once

#include <compare>
#include <cstdint>

#include "platform/clock.h"

namespace tavrel {

inline constexpr uint32_t kSecondsPerDay = 86400;

// A moment as the broadcast tables carry it: Modified Julian Date and seconds of that day,
// in Japan local time (no time zone is applied anywhere).
struct MjdTime {
    uint32_t mjd = 0;
    uint32_t seconds = 0;  // 0 to 86399

    // Seconds since MJD 0: what moments are ordered and subtracted by.
    int64_t TotalSeconds() const { return int64_t{mjd} * kSecondsPerDay + seconds; }

    friend bool operator==(const MjdTime& a, const MjdTime& b) {
        return a.TotalSeconds() == b.TotalSeconds();
    }
    friend std::strong_ordering operator<=>(const MjdTime& a, const MjdTime& b) {
        return a.TotalSeconds() <=> b.TotalSeconds();
    }
};

// The single 64-bit form: MJD in the low 32 bits, seconds in the high 32 bits.
inline uint64_t PackMjdTime(MjdTime t) {
    return uint64_t{t.seconds} << 32 | t.mjd;
}
inline MjdTime UnpackMjdTime(uint64_t v) {
    return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}

struct CalendarDate {
    int day = 0;
    int month = 0;
    int year = 0;

    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

struct ClockTime {
    uint32_t hours = 0;
    uint32_t minutes = 0;
    uint32_t seconds = 0;

    friend bool operator==(const ClockTime&, const ClockTime&) = default;
};

// MJD of a Gregorian date, cut to 16 bits as the tables carry it (it wraps in April 2038).
uint16_t MjdFromDate(int month, int year, int day);
// The date of an MJD; MJD 0 stands for "no date" and gives all zeros.
CalendarDate DateFromMjd(uint32_t mjd);
// The local date and time of `clock` as an MJD pair.
MjdTime NowLocal(const Clock& clock);
// Moves `time` by `delta` seconds and normalises it. Moments before MJD 0 are not supported.
void AddSeconds(MjdTime& time, int64_t delta);
ClockTime SplitSeconds(uint32_t seconds);
// hh, mm, ss as two BCD digits each, as in the time fields of the tables.
uint32_t BcdTimeToSeconds(uint8_t hh, uint8_t mm, uint8_t ss);
// The value of eight packed BCD digits, the lowest nibble being the units.
uint32_t BcdToNumber(uint32_t bcd);
// True when t + offset_t lies between a and b + offset_b, both ends included, whichever of
// the two is later. With offset_b = -1 and offset_t = 0 it reads "a <= t < b".
bool Within(MjdTime a, MjdTime b, int64_t offset_b, MjdTime t, int64_t offset_t);

}  // namespace tavrel
