#include <gtest/gtest.h>

#include "cli/cli_run.h"
#include "platform/temp_dir.h"
#include "reservation/schedule_file.h"

namespace tavrel::cli {
namespace {

using test_support::ReadText;
using test_support::TempDir;

Outcome Schedule(std::vector<std::string> args) {
    args.insert(args.begin(), "schedule");
    return RunCli(args);
}

TEST(ScheduleCommand, AddsListsAndRemovesThroughTheDialogsChecks) {
    TempDir dir;
    const std::string file = dir.File("schedule.ini");
    const std::string folder = dir.Path();

    Outcome r = Schedule({"add", file, "--date", "2008-03-01 21:00:00", "--length", "00:30:00",
                          "--service", "0x400", "--daily", "--dir", folder});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out,
              "録画予約(1件)\n1\t日付\t2008年03月01日(土) 21時00分00秒\t00 時間 30 分 00 秒"
              "\t[毎日][サービスID=1024]\n");

    r = Schedule({"add", file, "--service", "1024", "--event", "0x1a2b", "--offset-start", "-2",
                  "--offset-end", "3", "--dir", folder, "--file", "news"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    std::vector<Reservation> saved = ParseSchedule(ReadText(file));
    ASSERT_EQ(saved.size(), 2u);
    const Reservation& e = saved[1];
    EXPECT_EQ(
        std::tuple(e.Flag, e.EventID, e.OffsetStart, e.OffsetEnd, TextOf(e.File), TextOf(e.Ext)),
        std::tuple(RSV_BY_EVENT | RSV_SERVICE_LIMIT | RSV_FILE_GIVEN, 0x1A2B, -2, 3, "news",
                   ".ts"));

    // Refusals leave the file as it was.
    const std::string before = ReadText(file);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } refused[] = {
        {{"add", file, "--date", "2008-03-01 21:30:00", "--dir", folder}, kExitFailure, "overlaps"},
        {{"add", file, "--date", "2008-03-02 21:30:00", "--dir", folder + "/none"},
         kExitUsage,
         "無効なパスです。"},
        {{"add", file, "--date", "2008-03-02 21:30:00", "--length", "24:00:00"},
         kExitUsage,
         "23:59:59"},
        {{"add", file, "--date", "2008-02-30 00:00:00"}, kExitUsage, "does not exist"},
        {{"remove", file, "3"}, kExitUsage, "from 1 to 2"},
    };
    for (const auto& t : refused) {
        r = Schedule(t.args);
        EXPECT_EQ(r.status, t.status) << t.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(t.message), std::string::npos) << r.err;
        EXPECT_EQ(ReadText(file), before);
    }

    // Forced, the overlap is stored; removing the daily entry leaves tomorrow's, deleted.
    r = Schedule({"add", file, "--date", "2008-03-01 21:30:00", "--dir", folder, "--force"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    r = Schedule({"remove", file, "1"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    saved = ParseSchedule(ReadText(file));
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].StartTimeSec, 21u * 3600 + 1800);
    EXPECT_EQ(saved[1].Flag & (RSV_DAILY | RSV_USER_DELETED), RSV_DAILY | RSV_USER_DELETED);
    EXPECT_EQ(saved[1].StartDateMJD, 54527u);

    r = Schedule({"list", file});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out.rfind("録画予約(3件)\n", 0), 0u);
}

}  // namespace
}  // namespace tavrel::cli
