#include "platform/clock.h"

#include <gtest/gtest.h>

namespace tavrel {
namespace {

TEST(FakeClock, AdvancesTickAndCalendarTogether) {
    FakeClock clock(0xFFFFFF00u, LocalTime{2009, 12, 31, 23, 59, 59, 500, 4});
    clock.Advance(0x200);  // the tick wraps through zero like a 32-bit millisecond count
    EXPECT_EQ(clock.TickCount(), 0x100u);
    const LocalTime now = clock.Now();
    EXPECT_EQ(std::tuple(now.year, now.month, now.day, now.hour, now.minute, now.second,
                         now.milliseconds, now.day_of_week),
              std::tuple(2010, 1, 1, 0, 0, 0, 12, 5));  // 2010-01-01 was a Friday
    // The calendar arithmetic round-trips across leap days; its day count starts in 1970.
    for (const LocalTime t : {LocalTime{2000, 2, 29, 12, 0, 0, 0, 2}, LocalTime{1900, 3, 1},
                              LocalTime{2024, 12, 31, 23, 59, 59, 999}}) {
        const LocalTime back = CivilFromMilliseconds(MillisecondsFromCivil(t));
        EXPECT_EQ(std::tuple(back.year, back.month, back.day, back.second, back.milliseconds),
                  std::tuple(t.year, t.month, t.day, t.second, t.milliseconds));
    }
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2009, 1, 1), 14245);
}

}  // namespace
}  // namespace tavrel
