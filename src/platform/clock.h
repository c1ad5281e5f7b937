#pragma once

#include <atomic>
#include <cstdint>

namespace tavrel {

// Calendar time as the local wall clock shows it.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
    int day_of_week = 0;  // 0 = Sunday

    friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

// Every component that reads time gets it from a Clock, so tests can move time by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32 like the tick count of the
    // system the design comes from; compare ticks by unsigned subtraction.
    virtual uint32_t TickCount() const = 0;
    virtual LocalTime Now() const = 0;
};

// The machine's clocks: a monotonic tick and the local time zone's calendar.
class SystemClock final : public Clock {
public:
    uint32_t TickCount() const override;
    LocalTime Now() const override;

    static SystemClock& Instance();
};

// A clock that only moves when told to. Safe to read from any thread.
class FakeClock final : public Clock {
public:
    explicit FakeClock(uint32_t tick = 0, LocalTime now = {2009, 1, 1, 0, 0, 0, 0, 4});

    uint32_t TickCount() const override { return tick_.load(std::memory_order_acquire); }
    LocalTime Now() const override;

    void SetTick(uint32_t tick) { tick_.store(tick, std::memory_order_release); }
    // Advances the tick count and the calendar together.
    void Advance(uint32_t milliseconds);
    void SetNow(const LocalTime& now);

private:
    std::atomic<uint32_t> tick_;
    std::atomic<int64_t> epoch_ms_;  // calendar time as milliseconds since 1970-01-01 (UTC-free)
};

// Helpers shared by the clocks: a proleptic Gregorian calendar without time zones.
int64_t DaysFromCivil(int year, int month, int day);
LocalTime CivilFromMilliseconds(int64_t epoch_ms);
int64_t MillisecondsFromCivil(const LocalTime& t);

}  // namespace tavrel
