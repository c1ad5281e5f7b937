#include "ts/mjd_time.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace tavrel {
namespace {

// MJD 0 is 1858-11-17, 40587 days before 1970-01-01.
constexpr int64_t kMjdOfUnixEpoch = 40587;

TEST(MjdTime, AgreesWithTheCivilCalendarEveryDayFrom1900To2037) {
    // The clock's calendar is an independent integer algorithm.
    for (int64_t days = DaysFromCivil(1900, 1, 1); days <= DaysFromCivil(2037, 12, 31); ++days) {
        const LocalTime t = CivilFromMilliseconds(days * 86400000);
        const int64_t mjd = days + kMjdOfUnixEpoch;
        ASSERT_EQ(MjdFromDate(t.month, t.year, t.day), mjd)
            << t.year << "-" << t.month << "-" << t.day;
        ASSERT_EQ(DateFromMjd(static_cast<uint32_t>(mjd)), (CalendarDate{t.day, t.month, t.year}))
            << mjd;
    }
}

TEST(MjdTime, DatesBeyondTheCivilCalendarTestAndTheSixteenBitWrap) {
    // MJD 0 means no date; the 16-bit MJD wraps after 2038-04-22. 2100 lies past the 16-bit
    // range: the MJD wraps, the day difference stays one.
    const std::pair<uint32_t, CalendarDate> kDates[] = {
        {1, {18, 11, 1858}},    {65535, {22, 4, 2038}}, {65536, {23, 4, 2038}},
        {88127, {28, 2, 2100}}, {88128, {1, 3, 2100}},
    };
    for (const auto& [mjd, date] : kDates) {
        EXPECT_EQ(MjdFromDate(date.month, date.year, date.day), static_cast<uint16_t>(mjd));
        if (mjd != 65536) {
            EXPECT_EQ(DateFromMjd(mjd), date) << mjd;
        }
    }
    EXPECT_EQ(DateFromMjd(0), (CalendarDate{0, 0, 0}));
}

TEST(MjdTime, ClockArithmeticAndBcd) {
    FakeClock clock(0, {2009, 1, 1, 23, 59, 58, 500, 4});
    EXPECT_EQ(NowLocal(clock), (MjdTime{54832, 86398}));
    clock.Advance(1500);
    EXPECT_EQ(NowLocal(clock), (MjdTime{54833, 0}));
    const struct {
        MjdTime from;
        int64_t delta;
        MjdTime to;
    } kAdds[] = {
        {{54832, 86399}, 1, {54833, 0}},
        {{54832, 0}, -5, {54831, 86395}},
        {{54832, 3600}, 604800, {54839, 3600}},  // weekly repeat
        {{54839, 3600}, -2 * 86400 - 3601, {54836, 86399}},
    };
    for (const auto& c : kAdds) {
        MjdTime t = c.from;
        AddSeconds(t, c.delta);
        EXPECT_EQ(t, c.to) << c.delta;
    }
    EXPECT_EQ(SplitSeconds(86399), (ClockTime{23, 59, 59}));
    EXPECT_EQ(SplitSeconds(90000), (ClockTime{25, 0, 0}));
    EXPECT_EQ(BcdTimeToSeconds(0x12, 0x34, 0x56), 12u * 3600 + 34 * 60 + 56);
    // A nibble above 9 goes through the same formula.
    EXPECT_EQ(BcdTimeToSeconds(0x0A, 0x00, 0x0F), 10u * 3600 + 15);
    EXPECT_EQ(BcdToNumber(0x12345678), 12345678u);
    EXPECT_EQ(BcdToNumber(0x000000A0), 100u);
    EXPECT_EQ(UnpackMjdTime(PackMjdTime({54832, 86399})), (MjdTime{54832, 86399}));
}

TEST(MjdTime, WithinIsInclusiveInEitherOrderAndHalfOpenAsTheEventStoreCallsIt) {
    const MjdTime start{54832, 86000};
    const MjdTime end{54833, 400};  // the event runs over midnight
    const struct {
        MjdTime a, b;
        int64_t offset_b;
        MjdTime t;
        int64_t offset_t;
        bool within;
    } kCases[] = {
        {start, end, -1, start, 0, true},
        {start, end, -1, {54833, 399}, 0, true},
        {start, end, -1, end, 0, false},
        {start, end, -1, {54832, 85999}, 0, false},
        {start, end, -1, {54832, 85999}, 1, true},  // the offset moves t
        {end, start, 0, end, 0, true},
        {end, start, 0, start, 0, true},
        {end, start, 0, {54833, 401}, 0, false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Within(c.a, c.b, c.offset_b, c.t, c.offset_t), c.within) << c.t.seconds;
    }
}

}  // namespace
}  // namespace tavrel
