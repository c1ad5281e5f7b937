#include "reservation/schedule_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/temp_dir.h"
#include "reservation/reservation_fixture.h"
#include "reservation/reservation_manager.h"

namespace tavrel {
namespace {

using testing::At;
using testing::DateReservation;
using testing::EventReservation;

// The pending list of the byte-for-byte test: a deleted daily date reservation caught while
// recording, and an event reservation still waiting for the guide.
std::vector<Reservation> TwoReservations() {
    Reservation date = DateReservation(
        At(2008, 3, 1, 21, 0, 0), 3725,
        RSV_DAILY | RSV_USER_DELETED | RSV_FILE_GIVEN | RSV_CHANNEL_VALUE | RSV_SERVICE_LIMIT);
    date.SetState(RSV_STATE_RECORDING);
    CopyText(date.Dir, "/rec/日本");
    CopyText(date.File, "x");
    CopyText(date.Ext, ".ts");
    date.ChVal = 5;
    CopyText(date.ChStr, "ch 7");
    CopyText(date.EnableServiceID, "1024");
    CopyText(date.eventName, "not saved");

    Reservation event = EventReservation(1024, 0x1234);
    event.NetworkID = 4;
    event.StreamID = 0x4010;
    event.RecordSec = kUndeterminedLength;
    event.OffsetStart = -2;
    event.OffsetEnd = 3;
    event.eventTableKind = 1;
    event.eventVersion = 7;
    return {date, event};
}

constexpr const char* kExpectedFile =
    "[Tavrel_Schedule]\r\n"
    "ScheduleNum=2\r\n"
    "\r\n"
    "[Schedule_1]\r\n"
    ";0x8018000B\r\n"
    "Flag=-2145910773\r\n"
    ";Start=2008/03/01 21:00\r\n"
    "StartDateMJD=54526\r\n"
    "StartTimeSec=75600\r\n"
    ";Rec=01:02: 5\r\n"
    "RecordSec=3725\r\n"
    "NetworkID=0\r\n"
    "StreamID=0\r\n"
    "ServiceID=0\r\n"
    "EventID=0\r\n"
    "OffsetStart=0\r\n"
    "OffsetEnd=0\r\n"
    "Dir=/rec/日本\r\n"
    "File=x\r\n"
    "Ext=.ts\r\n"
    "ChVal=5\r\n"
    "ChStr=ch 7\r\n"
    "EnableServiceID=1024\r\n"
    "\r\n"
    "[Schedule_2]\r\n"
    ";0x00040008\r\n"
    "Flag=262152\r\n"
    ";Start=0000/00/00 00:00\r\n"
    "StartDateMJD=0\r\n"
    "StartTimeSec=0\r\n"
    ";Rec=1193046:28:15\r\n"
    "RecordSec=-1\r\n"
    "NetworkID=4\r\n"
    "StreamID=16400\r\n"
    "ServiceID=1024\r\n"
    "EventID=4660\r\n"
    "OffsetStart=-2\r\n"
    "OffsetEnd=3\r\n"
    "Dir=\r\n"
    "File=\r\n"
    "Ext=\r\n"
    "ChVal=0\r\n"
    "ChStr=\r\n"
    "EnableServiceID=1024\r\n"
    "\r\n";

TEST(ScheduleFile, WritesEveryLineAsTheFormatSays) {
    EXPECT_EQ(FormatSchedule(TwoReservations()), kExpectedFile);
    EXPECT_EQ(FormatSchedule({}), "[Tavrel_Schedule]\r\nScheduleNum=0\r\n\r\n");
}

TEST(ScheduleFile, ReadsBackWhatWasWrittenWithoutStateKindVersionOrName) {
    std::vector<Reservation> expected = TwoReservations();
    for (Reservation& r : expected) {
        r.SetState(RSV_STATE_WAITING);
        r.eventTableKind = 0;
        r.eventVersion = 0;
        r.eventName.fill('\0');
    }
    const std::vector<Reservation> read = ParseSchedule(kExpectedFile);
    ASSERT_EQ(read.size(), 2u);
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(std::memcmp(&read[i], &expected[i], sizeof(Reservation)), 0) << i;
    }
    EXPECT_LT(static_cast<int32_t>(read[0].Flag), 0);  // the user's deletion survives
}

TEST(ScheduleFile, TakesWhatAHandEditedOrDamagedFileHolds) {
    const std::string long_dir(300, 'd');
    // Flag 0x11080000 holds a state, kept as read; section 2 has no Flag and 3 a zero one:
    // skipped, as is section 5, beyond ScheduleNum.
    const std::vector<Reservation> read = ParseSchedule(
        "[Tavrel_Schedule]\nScheduleNum=4\n[Schedule_1]\nFlag=285736960\nServiceID=70000\n"
        "ChVal=300\nRecordSec=-1\nDir=" +
        long_dir +
        "\n[Schedule_2]\nStartDateMJD=5\n[Schedule_3]\nFlag=0\n"
        "[Schedule_4]\nFlag=524288\n[Schedule_5]\nFlag=524288\n");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(std::tuple(read[0].Flag, read[0].State(), read[0].ServiceID, read[0].ChVal,
                         read[0].RecordSec, TextOf(read[0].Dir)),
              std::tuple(0x11080000u, RSV_STATE_FINISHED, 70000 & 0xFFFF, 300 & 0xFF,
                         kUndeterminedLength, long_dir.substr(0, 259)));
    EXPECT_EQ(std::tuple(read[1].Flag, read[1].StartDateMJD), std::tuple(RSV_BY_DATE, 0u));

    // A damaged count reads only the sections there, by their exact names, in number order.
    const std::vector<Reservation> damaged = ParseSchedule(
        "[Tavrel_Schedule]\nScheduleNum=2147483647\n"
        "[schedule_3]\nFlag=524288\nStartTimeSec=3\n"
        "[Schedule_03]\nFlag=524288\n"  // not the name of section 3
        "[Schedule_1]\nFlag=524288\nStartTimeSec=1\n");
    ASSERT_EQ(damaged.size(), 2u);
    EXPECT_EQ(std::tuple(damaged[0].StartTimeSec, damaged[1].StartTimeSec), std::tuple(1u, 3u));
}

TEST(ScheduleFile, ManagerLoadsSortedAndSavesThroughItsPath) {
    test_support::TempDir dir;
    const std::string path = dir.File("schedule.ini");
    ReservationManager manager(SystemClock::Instance(), nullptr, nullptr);
    EXPECT_FALSE(manager.SaveSchedule());  // no path yet
    manager.LoadSchedule(path);            // missing: empty, path kept
    EXPECT_TRUE(manager.Pending().empty());

    std::vector<Reservation> list = TwoReservations();
    std::swap(list[0], list[1]);  // the unplaced event first: loading sorts it last
    test_support::WriteText(path, FormatSchedule(list));
    manager.LoadSchedule();
    ASSERT_EQ(manager.Pending().size(), 2u);
    EXPECT_TRUE(manager.Pending()[0].ByDate());

    ASSERT_TRUE(manager.SaveSchedule());
    EXPECT_EQ(test_support::ReadText(path), kExpectedFile);
    EXPECT_FALSE(manager.SaveSchedule(dir.File("missing/schedule.ini")));
}

}  // namespace
}  // namespace tavrel
