#include "ts/mjd_time.h"

#include <algorithm>

namespace tavrel {

// The roundings below are the ones every receiver uses, so that dates agree to the day.
uint16_t MjdFromDate(int month, int year, int day) {
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    const auto a = static_cast<int64_t>(year * 365.25);
    const auto b = static_cast<int64_t>((month - 2) * -30.59);
    const auto mjd = static_cast<int64_t>(
        static_cast<double>(a - b + year / 400 - year / 100 + day) + 0.5 - 678912.0);
    return static_cast<uint16_t>(mjd);
}

CalendarDate DateFromMjd(uint32_t mjd) {
    if (mjd == 0) {
        return {};
    }
    const double j = mjd + 2400000.5 + 0.5;
    auto z = static_cast<int64_t>(j);
    const double f = j - static_cast<double>(z);
    if (z > 2299160) {  // Gregorian reform
        const auto alpha = static_cast<int64_t>((static_cast<double>(z) - 1867216.25) / 36524.25);
        z = z + 1 + alpha - alpha / 4;
    }
    const int64_t bv = z + 1524;
    const auto cy = static_cast<int64_t>((static_cast<double>(bv) - 122.1) / 365.25);
    const auto dv = static_cast<int64_t>(static_cast<double>(cy) * 365.25);
    const auto e = static_cast<int64_t>(static_cast<double>(bv - dv) / 30.6001);
    CalendarDate date;
    date.day = static_cast<int>(static_cast<double>(bv - dv) -
                                static_cast<double>(static_cast<int64_t>(e * 30.6001)) + f);
    date.month = static_cast<int>(e < 14 ? e - 1 : e - 13);
    date.year = static_cast<int>(date.month > 2 ? cy - 4716 : cy - 4715);
    return date;
}

MjdTime NowLocal(const Clock& clock) {
    const LocalTime now = clock.Now();
    return {MjdFromDate(now.month, now.year, now.day),
            static_cast<uint32_t>(now.hour * 3600 + now.minute * 60 + now.second)};
}

void AddSeconds(MjdTime& time, int64_t delta) {
    // Unsigned arithmetic: a sum below zero wraps instead of being undefined.
    const uint64_t total =
        uint64_t{time.mjd} * kSecondsPerDay + time.seconds + static_cast<uint64_t>(delta);
    time.mjd = static_cast<uint32_t>(total / kSecondsPerDay);
    time.seconds = static_cast<uint32_t>(total % kSecondsPerDay);
}

ClockTime SplitSeconds(uint32_t seconds) {
    ClockTime t;
    t.hours = seconds / 3600;
    t.minutes = seconds % 3600 / 60;
    t.seconds = seconds - t.minutes * 60 - t.hours * 3600;
    return t;
}

namespace {
uint32_t BcdByte(uint8_t b) {
    return (b >> 4) * 10u + (b & 0x0Fu);
}
}  // namespace

uint32_t BcdTimeToSeconds(uint8_t hh, uint8_t mm, uint8_t ss) {
    return BcdByte(ss) + 60 * BcdByte(mm) + 3600 * BcdByte(hh);
}

uint32_t BcdToNumber(uint32_t bcd) {
    uint32_t value = 0;
    uint32_t scale = 1;
    for (int i = 0; i < 8; ++i) {
        value += (bcd & 0x0F) * scale;
        bcd >>= 4;
        scale *= 10;
    }
    return value;
}

bool Within(MjdTime a, MjdTime b, int64_t offset_b, MjdTime t, int64_t offset_t) {
    const int64_t x = a.TotalSeconds();
    const int64_t y = b.TotalSeconds() + offset_b;
    const int64_t z = t.TotalSeconds() + offset_t;
    return z >= std::min(x, y) && z <= std::max(x, y);
}

}  // namespace tavrel
