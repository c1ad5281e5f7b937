#include "platform/clock.h"

#include <ctime>

namespace tavrel {

uint32_t SystemClock::TickCount() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps every 49.7 days, as callers expect
}

LocalTime SystemClock::Now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
    t.day_of_week = local.tm_wday;
    return t;
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

// Howard Hinnant's days_from_civil: days since 1970-01-01 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

LocalTime CivilFromMilliseconds(int64_t epoch_ms) {
    int64_t days = epoch_ms / 86400000;
    int64_t rem = epoch_ms % 86400000;
    if (rem < 0) {
        rem += 86400000;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    LocalTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rem / 3600000);
    t.minute = static_cast<int>(rem / 60000 % 60);
    t.second = static_cast<int>(rem / 1000 % 60);
    t.milliseconds = static_cast<int>(rem % 1000);
    t.day_of_week = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return t;
}

int64_t MillisecondsFromCivil(const LocalTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400000 +
           ((t.hour * 60 + t.minute) * 60 + t.second) * int64_t{1000} + t.milliseconds;
}

FakeClock::FakeClock(uint32_t tick, LocalTime now)
    : tick_(tick), epoch_ms_(MillisecondsFromCivil(now)) {}

LocalTime FakeClock::Now() const {
    return CivilFromMilliseconds(epoch_ms_.load(std::memory_order_acquire));
}

void FakeClock::Advance(uint32_t milliseconds) {
    tick_.fetch_add(milliseconds, std::memory_order_acq_rel);
    epoch_ms_.fetch_add(milliseconds, std::memory_order_acq_rel);
}

void FakeClock::SetNow(const LocalTime& now) {
    epoch_ms_.store(MillisecondsFromCivil(now), std::memory_order_release);
}

}  // namespace tavrel
