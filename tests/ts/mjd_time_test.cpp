#include "ts/mjd_time.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace tavrel {
namespace {

// MJD 0 is 1858-11-17, 40587 days before 1970-01-01.
constexpr int64_t kMjdOfUnixEpoch = 40587;

TEST(MjdTime, KnownDatesConvertBothWays) {
    EXPECT_EQ(MjdFromDate(1, 2009, 1), 54832);
    EXPECT_EQ(DateFromMjd(54832), (CalendarDate{1, 1, 2009}));
    EXPECT_EQ(MjdFromDate(11, 1858, 18), 1);
    EXPECT_EQ(DateFromMjd(1), (CalendarDate{18, 11, 1858}));
    EXPECT_EQ(MjdFromDate(12, 1999, 31), 51543);
    EXPECT_EQ(DateFromMjd(51544), (CalendarDate{1, 1, 2000}));
}

TEST(MjdTime, MjdZeroMeansNoDate) {
    EXPECT_EQ(DateFromMjd(0), (CalendarDate{0, 0, 0}));
}

TEST(MjdTime, LeapDayHasNoGapOnEitherSide) {
    EXPECT_EQ(MjdFromDate(2, 2008, 28), 54524);
    EXPECT_EQ(MjdFromDate(2, 2008, 29), 54525);
    EXPECT_EQ(MjdFromDate(3, 2008, 1), 54526);
    EXPECT_EQ(DateFromMjd(54525), (CalendarDate{29, 2, 2008}));
    EXPECT_EQ(DateFromMjd(54526), (CalendarDate{1, 3, 2008}));
    // 2000 is a leap year although a century: divisible by 400.
    EXPECT_EQ(MjdFromDate(2, 2000, 29), 51603);
    EXPECT_EQ(MjdFromDate(3, 2000, 1), 51604);
    EXPECT_EQ(DateFromMjd(51603), (CalendarDate{29, 2, 2000}));
}

TEST(MjdTime, CenturyYearsWithoutLeapDay) {
    EXPECT_EQ(MjdFromDate(2, 1900, 28), 15078);
    EXPECT_EQ(MjdFromDate(3, 1900, 1), 15079);
    EXPECT_EQ(DateFromMjd(15078), (CalendarDate{28, 2, 1900}));
    EXPECT_EQ(DateFromMjd(15079), (CalendarDate{1, 3, 1900}));
    // 2100 lies past the 16-bit range: the MJD wraps, the day difference stays one.
    EXPECT_EQ(MjdFromDate(3, 2100, 1), static_cast<uint16_t>(88128));
    EXPECT_EQ(MjdFromDate(2, 2100, 28), static_cast<uint16_t>(88127));
    EXPECT_EQ(DateFromMjd(88127), (CalendarDate{28, 2, 2100}));
    EXPECT_EQ(DateFromMjd(88128), (CalendarDate{1, 3, 2100}));
}

TEST(MjdTime, MjdFromDateWrapsAtSixteenBits) {
    EXPECT_EQ(MjdFromDate(4, 2038, 22), 65535);
    EXPECT_EQ(MjdFromDate(4, 2038, 23), 0);
}

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

TEST(MjdTime, NowLocalReadsTheGivenClock) {
    FakeClock clock(0, {2009, 1, 1, 23, 59, 58, 500, 4});
    EXPECT_EQ(NowLocal(clock), (MjdTime{54832, 86398}));
    clock.Advance(1500);
    EXPECT_EQ(NowLocal(clock), (MjdTime{54833, 0}));
}

TEST(MjdTime, AddSecondsCrossesMidnightBothWays) {
    MjdTime t{54832, 86399};
    AddSeconds(t, 1);
    EXPECT_EQ(t.mjd, 54833u);
    EXPECT_EQ(t.seconds, 0u);
    t = {54832, 0};
    AddSeconds(t, -5);
    EXPECT_EQ(t.mjd, 54831u);
    EXPECT_EQ(t.seconds, 86395u);
    t = {54832, 3600};
    AddSeconds(t, 604800);  // weekly repeat
    EXPECT_EQ(t.mjd, 54839u);
    EXPECT_EQ(t.seconds, 3600u);
    AddSeconds(t, -2 * 86400 - 3601);
    EXPECT_EQ(t.mjd, 54836u);
    EXPECT_EQ(t.seconds, 86399u);
}

TEST(MjdTime, SplitSecondsGivesHoursMinutesSeconds) {
    EXPECT_EQ(SplitSeconds(86399), (ClockTime{23, 59, 59}));
    EXPECT_EQ(SplitSeconds(3661), (ClockTime{1, 1, 1}));
    EXPECT_EQ(SplitSeconds(0), (ClockTime{0, 0, 0}));
    EXPECT_EQ(SplitSeconds(90000), (ClockTime{25, 0, 0}));
}

TEST(MjdTime, BcdTimeDecodesTwoDigitsPerByte) {
    EXPECT_EQ(BcdTimeToSeconds(0x23, 0x59, 0x59), 86399u);
    EXPECT_EQ(BcdTimeToSeconds(0x12, 0x34, 0x56), 12u * 3600 + 34 * 60 + 56);
    EXPECT_EQ(BcdTimeToSeconds(0x00, 0x00, 0x00), 0u);
    // A nibble above 9 goes through the same formula.
    EXPECT_EQ(BcdTimeToSeconds(0x0A, 0x00, 0x0F), 10u * 3600 + 15);
}

TEST(MjdTime, BcdToNumberReadsEightDigits) {
    EXPECT_EQ(BcdToNumber(0x12345678), 12345678u);
    EXPECT_EQ(BcdToNumber(0x99999999), 99999999u);
    EXPECT_EQ(BcdToNumber(0x00000105), 105u);
    EXPECT_EQ(BcdToNumber(0x000000A0), 100u);
    EXPECT_EQ(BcdToNumber(0x10000000), 10000000u);
}

TEST(MjdTime, WithinIsHalfOpenAsTheEventStoreCallsIt) {
    const MjdTime start{54832, 86000};
    const MjdTime end{54833, 400};  // the event runs over midnight
    EXPECT_TRUE(Within(start, end, -1, start, 0));
    EXPECT_TRUE(Within(start, end, -1, {54833, 399}, 0));
    EXPECT_FALSE(Within(start, end, -1, end, 0));
    EXPECT_FALSE(Within(start, end, -1, {54832, 85999}, 0));
    EXPECT_TRUE(Within(start, end, -1, {54832, 85999}, 1)) << "the offset moves t";
}

TEST(MjdTime, WithinAcceptsTheEndsInEitherOrder) {
    const MjdTime early{54832, 100};
    const MjdTime late{54832, 200};
    EXPECT_TRUE(Within(late, early, 0, {54832, 100}, 0));
    EXPECT_TRUE(Within(late, early, 0, {54832, 200}, 0));
    EXPECT_FALSE(Within(late, early, 0, {54832, 201}, 0));
    EXPECT_FALSE(Within(late, early, 0, {54832, 99}, 0));
}

TEST(MjdTime, OrderAndPackedForm) {
    EXPECT_LT((MjdTime{54832, 86399}), (MjdTime{54833, 0}));
    EXPECT_GT((MjdTime{54833, 0}), (MjdTime{54832, 1}));
    EXPECT_EQ((MjdTime{54832, 3600}).TotalSeconds(), 54832LL * 86400 + 3600);
    EXPECT_EQ(PackMjdTime({54832, 3600}), (uint64_t{3600} << 32) | 54832u);
    EXPECT_EQ(UnpackMjdTime((uint64_t{86399} << 32) | 54832u), (MjdTime{54832, 86399}));
}

}  // namespace
}  // namespace tavrel
