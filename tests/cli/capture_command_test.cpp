#include "cli/capture_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "app/app_harness.h"
#include "cli/cli_run.h"
#include "cli/commands.h"
#include "platform/loopback_receiver.h"
#include "platform/temp_dir.h"
#include "reservation/schedule_file.h"
#include "sim/multiplex.h"
#include "support/ffprobe.h"
#include "support/packet_pids.h"

namespace tavrel::cli {
namespace {

using test_support::FakeTuner;

Outcome Schedule(std::vector<std::string> args) {
    args.insert(args.begin(), "schedule");
    return RunCli(args);
}

// A tuner that connects and delivers nothing: the options are checked against its endpoints.
Tuner IdleTuner(const CaptureOptions&, std::string&) {
    auto tuner = std::make_unique<FakeTuner>(SystemClock::Instance());
    tuner->Release();
    return {nullptr, std::move(tuner), {}};
}

// Lists the devices, and refuses what it cannot do with one line and its status.
TEST(CaptureCommand, ListsDevicesAndRefusesWhatItCannotDo) {
    test_support::TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--list-devices"}, kExitOk, ""},
        {{"--udp", "nohost"}, kExitUsage, "--udp needs HOST:PORT, not 'nohost'"},
        {{"--record", "a.ts", "--record-auto"},
         kExitUsage,
         "--record and --record-auto exclude each other"},
        {{"--bogus"}, kExitUsage, "unknown option --bogus"},
        {{"--device", "3"}, kExitUsage, "there is no device 3 (see --list-devices)"},
        {{"--in", "0x83"}, kExitUsage, "the device has no bulk IN endpoint 0x83"},
        {{"--firmware-init"}, kExitUsage, "the device has no firmware initialisation"},
        {{"--seconds", "1", "--record", dir.File("missing/x.ts")},
         kExitFailure,
         "[tavrel] 開始に失敗しました"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--settings-dir", dir.Path()});
        std::ostringstream out, err;
        EXPECT_EQ(RunCaptureWith(args, out, err, &IdleTuner), c.status) << c.message;
        EXPECT_EQ(err.str(), c.message.empty() ? "" : "tavrel-cli: " + c.message + "\n");
        if (c.status == kExitOk) {
            EXPECT_EQ(out.str(), "0: Fake FX2\n    in: 0x81\n    out: none 0x02\n");
        }
    }
}

// A reservation made with `schedule add` and recorded by a capture of the built-in tuner: output
// 1 limited to one service of the simulated multiplex goes into the reservation's folder, the
// status line shows the engine's text, and the schedule is saved without the finished entry.
TEST(CaptureCommand, RecordsAReservationLimitedToOneService) {
    test_support::TempDir dir;
    sim::MultiplexConfig config;
    config.start = sim::MultiplexConfig::StartAt(2024, 4, 1, 20, 0, 0);
    config.seconds = 1;
    const std::vector<sim::PlannedService> services =
        sim::MultiplexGenerator(config).Manifest().transport_streams.at(0).services;
    ASSERT_EQ(services.size(), 3u);
    const sim::PlannedService kept = services[1];
    const std::string schedule = dir.File("schedule.ini");
    // Prepared at once, recorded from 20:00:05 (5 s ahead) and stopped at 20:00:13 by the
    // broadcast time. The limitation knows a service's PIDs once its PMT has passed: a
    // recording that began with the capture could keep the first packets of the others. The
    // capture runs 7 s past the end, as the broadcast time trails the wall clock by as much as
    // a loaded machine's processing lags behind the tuner.
    const Outcome added =
        Schedule({"add", schedule, "--date", "2024-04-01 20:00:10", "--length", "1", "--service",
                  std::to_string(kept.service_id), "--dir", dir.Path()});
    ASSERT_EQ(added.status, kExitOk) << added.err;
    const Outcome r = RunCli({"capture", "--start", "2024-04-01 20:00:00", "--seconds", "20",
                              "--schedule", schedule, "--settings-dir", dir.Path()});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string& text = r.out;
    const std::string path = dir.File("20240401-2000.ts");
    std::vector<std::string> lines = {
        "schedule " + schedule + ": 1 reservations pending\n",
        "reserved recording to " + path + "\n",
        "reservation done: 日付[ 終了 ] 2024年04月01日(月) 20時00分10秒 00 時間 00 分 01 秒\n",
        "schedule " + schedule + ": 0 reservations pending\n"};
    for (const sim::PlannedService& s : services) {  // the service window's rows, from the SDT
        lines.push_back("service " + std::to_string(s.service_id) + " " + s.name + " | pmt ");
    }
    for (const std::string& line : lines) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    }
    EXPECT_TRUE(
        std::regex_search(text, std::regex(R"( \| 送信停止中 \| 予約録画中\(\d+MB 残\d+ MB\)\n)")))
        << text;
    EXPECT_EQ(test_support::ReadText(schedule), "[Tavrel_Schedule]\r\nScheduleNum=0\r\n\r\n");

    const std::vector<uint8_t> file = test_support::ReadWholeFile(path);
    ASSERT_GT(file.size(), 188u * 1000);
    // Exactly the kept service's streams, a PID it shares with another included.
    const std::set<uint16_t> pids = testing::PacketPids(file);
    for (const sim::PlannedService& service : services) {
        for (const sim::PlannedStream& s : service.streams) {
            const bool kept_pid = std::any_of(kept.streams.begin(), kept.streams.end(),
                                              [&](const auto& k) { return k.pid == s.pid; });
            EXPECT_EQ(pids.contains(s.pid), kept_pid) << s.pid;
        }
    }

    // Its PAT lists only the kept service (ffprobe is installed by scripts/deps.sh).
    if (!testing::FfprobeInstalled()) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    const auto probe = testing::Ffprobe(path);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->programmes.size(), 1u);
    EXPECT_TRUE(probe->programmes.contains(kept.service_id));
}

#ifdef TAVREL_CLI_PATH
// The program itself on its built-in simulated tuner: a real-time capture of 2 s, recorded,
// sent, its status texts printed once a second and its settings written at the end.
TEST(CaptureCommand, ProgramRecordsSendsAndPrintsTheStatusTexts) {
    test_support::TempDir dir;
    test_support::LoopbackReceiver receiver;
    const std::string file = dir.File("sim.ts");
    const std::string command =
        std::string(TAVREL_CLI_PATH) + " capture --seconds 2 --start '2009-01-02 03:04:05' " +
        "--stop-timer 0 --udp 127.0.0.1:" + std::to_string(receiver.Port()) +
        " --udp-size 1316 --record " + file + " --settings-dir " + dir.Path() + " > " +
        dir.File("out.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test_support::ReadText(dir.File("out.txt"));
    const std::string text = test_support::ReadText(dir.File("out.txt"));
    EXPECT_NE(text.find("recording to " + file + "\n"), std::string::npos) << text;
    const std::regex line(
        R"(\ntime \d ok \d+ ng 0 \d+\.\d\d Mbps \| buf \d+KB/10240KB R:0 Sy:0 St:0 \| pkt 188 )"
        R"(sync 0 cc 0 scr 0 \| [ *]2009/01/02 03:04:0\d \| 録画(中 \d+ MByte|バッファ中) )"
        R"(空き \d+ MByte 0:0\d 録画自動停止設定なし \| )"
        R"((送信中\(127\.0\.0\.1\) \d+ MByte|送信バッファ中)\n)");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    std::smatch recorded;
    ASSERT_TRUE(std::regex_search(text, recorded, std::regex(R"(recorded (\d+) bytes to )")));
    EXPECT_EQ(std::filesystem::file_size(file), std::stoull(recorded[1]));
    EXPECT_EQ(std::stoull(recorded[1]) % 188, 0u);
    EXPECT_GT(std::stoull(recorded[1]), 2'000'000u);  // 16 Mbit/s for about 2 s

    const auto datagram = receiver.Receive(100);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->size(), 1316u);
    // The settings are written at the end, with what the capture used.
    const std::string ini = test_support::ReadText(dir.File("tavrel.ini"));
    for (const std::string& key : {"NETWORK_PORT=" + std::to_string(receiver.Port()) + "\n",
                                   std::string("NETWORK_SEND_SIZE=1316\n")}) {
        EXPECT_NE(ini.find(key), std::string::npos) << key << "\n" << ini;
    }
}
#endif

TEST(ScheduleCommand, AddsListsAndRemovesThroughTheDialogsChecks) {
    test_support::TempDir dir;
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
    std::vector<Reservation> saved = ParseSchedule(test_support::ReadText(file));
    ASSERT_EQ(saved.size(), 2u);
    const Reservation& e = saved[1];
    EXPECT_EQ(
        std::tuple(e.Flag, e.EventID, e.OffsetStart, e.OffsetEnd, TextOf(e.File), TextOf(e.Ext)),
        std::tuple(RSV_BY_EVENT | RSV_SERVICE_LIMIT | RSV_FILE_GIVEN, 0x1A2B, -2, 3, "news",
                   ".ts"));

    // Refusals leave the file as it was.
    const std::string before = test_support::ReadText(file);
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
        EXPECT_EQ(test_support::ReadText(file), before);
    }

    // Forced, the overlap is stored; removing the daily entry leaves tomorrow's, deleted.
    r = Schedule({"add", file, "--date", "2008-03-01 21:30:00", "--dir", folder, "--force"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    r = Schedule({"remove", file, "1"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    saved = ParseSchedule(test_support::ReadText(file));
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
