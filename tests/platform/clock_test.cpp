#include "platform/clock.h"

#include <gtest/gtest.h>

namespace tavrel {
namespace {

TEST(FakeClock, AdvancesTickAndCalendarTogether) {
    FakeClock clock(0xFFFFFF00u, LocalTime{2009, 12, 31, 23, 59, 59, 500, 4});
    clock.Advance(0x200);  // the tick wraps through zero like a 32-bit millisecond count
    EXPECT_EQ(clock.TickCount(), 0x100u);
    const LocalTime now = clock.Now();
    EXPECT_EQ(now.year, 2010);
    EXPECT_EQ(now.month, 1);
    EXPECT_EQ(now.day, 1);
    EXPECT_EQ(now.hour, 0);
    EXPECT_EQ(now.minute, 0);
    EXPECT_EQ(now.second, 0);
    EXPECT_EQ(now.milliseconds, 12);
    EXPECT_EQ(now.day_of_week, 5);  // 2010-01-01 was a Friday
}

TEST(FakeClock, CalendarRoundTripsAcrossLeapDays) {
    for (const LocalTime t : {LocalTime{2000, 2, 29, 12, 0, 0, 0, 2}, LocalTime{1900, 3, 1},
                              LocalTime{2024, 12, 31, 23, 59, 59, 999}}) {
        const LocalTime back = CivilFromMilliseconds(MillisecondsFromCivil(t));
        EXPECT_EQ(back.year, t.year);
        EXPECT_EQ(back.month, t.month);
        EXPECT_EQ(back.day, t.day);
        EXPECT_EQ(back.second, t.second);
        EXPECT_EQ(back.milliseconds, t.milliseconds);
    }
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2009, 1, 1), 14245);
}

TEST(SystemClock, TickMovesForwardAndCalendarIsPlausible) {
    SystemClock& clock = SystemClock::Instance();
    const uint32_t a = clock.TickCount();
    const uint32_t b = clock.TickCount();
    EXPECT_LT(b - a, 1000u);
    const LocalTime now = clock.Now();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

}  // namespace
}  // namespace tavrel
