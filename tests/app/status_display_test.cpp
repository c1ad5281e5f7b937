#include "app/status_display.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace tavrel {
namespace {

constexpr uint32_t kMjd20090101 = 54832;
constexpr uint64_t kMiB = 1 << 20;

TEST(StatusDisplay, ElapsedTimeSwitchesToMinutesAtSixtySeconds) {
    struct Case {
        uint32_t start, now;
        const char* text;
    };
    const Case cases[] = {
        {1000, 1999, "0"},
        {0, 59'999, "59"},
        {0, 60'000, "1:00"},
        {0, 61'000, "1:01"},
        {0, 3'661'000, "61:01"},
        {0xFFFFFC18, 60'000, "1:01"},  // the tick count wrapped since the reset
    };
    for (const Case& c : cases) {
        StatusSnapshot s;
        s.device_start_tick = c.start;
        s.now_tick = c.now;
        EXPECT_EQ(FormatStatus(s).time, c.text) << c.start << " " << c.now;
    }
}

TEST(StatusDisplay, RateInMegabitsWithTruncatedHundredths) {
    const std::pair<double, const char*> cases[] = {
        {2'000'000, "15.26 Mbps"},  // k = 15625: 15 and 265 / 10
        {0, "0.00 Mbps"},
        {640, "0.00 Mbps"},                    // 5 kbit/s
        {10'240, "0.08 Mbps"},                 // 80 kbit/s: one digit, padded
        {131'072, "1.00 Mbps"},                // exactly 1024 kbit/s
        {(1024 + 1000) * 128.0, "1.99 Mbps"},  // remainder 1000 would print as ".100"
        {3'000'000, "22.90 Mbps"},
    };
    for (const auto& [bytes_per_second, text] : cases) {
        StatusSnapshot s;
        s.rate = bytes_per_second;
        EXPECT_EQ(FormatStatus(s).rate, text) << bytes_per_second;
    }
}

TEST(StatusDisplay, CountersAndBufferFill) {
    StatusSnapshot s;
    s.success_count = 4'000'000'000u;
    s.failure_count = 3;
    s.buffer_held = 0x500000 + 1023;
    s.buffer_limit = 0xA00000;
    s.overflow_resets = 1;
    s.counter_sy = 2;
    s.counter_st = 3;
    s.packet_length = 188;
    s.sync_errors = 7;
    s.discontinuities = 8;
    s.scrambled = 9;
    s.device_status = "Signal 12.5dB";
    const StatusTexts t = FormatStatus(s);
    EXPECT_EQ(t.buffer, "5120KB/10240KB\nR:1 Sy:2 St:3");
    EXPECT_EQ(std::vector<std::string>({t.success, t.failure, t.packet_length, t.sync_errors,
                                        t.discontinuities, t.scrambled, t.device_status}),
              std::vector<std::string>({"4000000000", "3", "188", "7", "8", "9", "Signal 12.5dB"}));
}

TEST(StatusDisplay, BroadcastTimeAdvancesAndMarksTheFirstSecond) {
    struct Case {
        uint32_t seconds;
        uint32_t since_event_ms;
        const char* text;
        MjdTime now;
    };
    constexpr uint32_t k030405 = 3 * 3600 + 4 * 60 + 5;
    const Case cases[] = {
        {k030405, 0, "*2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        {k030405, 999, "*2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        // From one second on the mark goes; the clock moves only beyond it.
        {k030405, 1000, " 2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        {k030405, 2999, " 2009/01/01\n03:04:07", {kMjd20090101, k030405 + 2}},
        {86399, 3000, " 2009/01/02\n00:00:02", {kMjd20090101 + 1, 2}},
    };
    for (const Case& c : cases) {
        StatusSnapshot s;
        s.time_date = kMjd20090101;
        s.time_seconds = c.seconds;
        s.time_tick = 0xFFFFFF00;  // the event came just before the tick count wrapped
        s.now_tick = s.time_tick + c.since_event_ms;
        const StatusTexts t = FormatStatus(s);
        EXPECT_EQ(t.broadcast_time, c.text) << c.since_event_ms;
        EXPECT_EQ(t.broadcast_now, c.now);
    }
    StatusSnapshot none;
    none.now_tick = 5000;
    EXPECT_EQ(FormatStatus(none).broadcast_time, "");
    EXPECT_FALSE(FormatStatus(none).broadcast_now.has_value());
}

TEST(StatusDisplay, RecordingStatesAndTheirStatusBar) {
    struct Case {
        const char* name;
        bool recorder, open;
        uint64_t written, free;
        uint32_t auto_stop;  // absolute tick
        const char* recording;
        const char* free_space;
        const char* bar0;
        const char* bar1;
        bool stop_for_timer, stop_for_space;
    };
    // now = 200000, recording started at 135000 (1:05 ago).
    const Case cases[] = {
        {"none", false, false, 0, kMiB, 0, "録画停止中", " ", " ", " ", false, false},
        {"buffering", true, true, 0, 1024 * kMiB, 0, "録画バッファ中", "空き 1024 MByte", "1:05",
         "録画自動停止設定なし", false, false},
        {"writing", true, true, 5 * kMiB + 1, 1024 * kMiB, 0, "録画中 5 MByte", "空き 1024 MByte",
         "1:05", "録画自動停止設定なし", false, false},
        {"timer running", true, true, kMiB, 1024 * kMiB, 320'500, "録画中 1 MByte",
         "空き 1024 MByte", "1:05", "2:00 後に自動停止", false, false},
        {"timer reached", true, true, kMiB, 200 * kMiB + 1, 200'000, "録画中 1 MByte",
         "空き 200 MByte", " ", "自動停止処理中", true, false},
        // The space stop comes first, also with the timer due, and ends the file.
        {"space low", true, true, kMiB, 200 * kMiB, 200'000, "録画中 1 MByte", "空き 200 MByte",
         " ", " ", false, true},
        {"no space", true, true, kMiB, 0, 0, "録画中 1 MByte", "空き 0 MByte", " ", " ", false,
         true},
        {"file closed", true, false, 0, 0, 0, "録画バッファ中", " ", " ", " ", false, false},
    };
    for (const Case& c : cases) {
        StatusSnapshot s;
        s.now_tick = 200'000;
        s.recorder = c.recorder;
        s.recorder_open = c.open;
        s.bytes_written = c.written;
        s.free_space = c.free;
        s.recording_start_tick = 135'000;
        s.auto_stop_tick = c.auto_stop;
        const StatusTexts t = FormatStatus(s);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(t.recording, c.recording);
        EXPECT_EQ(t.free_space, c.free_space);
        EXPECT_EQ(t.status_bar, (std::array<std::string, 2>{c.bar0, c.bar1}));
        EXPECT_EQ(t.stop_for_timer, c.stop_for_timer);
        EXPECT_EQ(t.stop_for_free_space, c.stop_for_space);
    }
}

TEST(StatusDisplay, UdpStates) {
    struct Case {
        bool sender;
        uint64_t sent;
        std::array<uint8_t, 4> to;
        const char* text;
    };
    const Case cases[] = {
        {false, 0, {}, "送信停止中"},
        {true, 0, {}, "送信バッファ中"},
        {true, 3 * kMiB + 5, {127, 0, 0, 1}, "送信中(127.0.0.1) 3 MByte"},
        {true, 10, {192, 168, 10, 200}, "送信中(192.168.10.200) 0 MByte"},
    };
    for (const Case& c : cases) {
        StatusSnapshot s;
        s.sender = c.sender;
        s.bytes_sent = c.sent;
        s.destination = c.to;
        EXPECT_EQ(FormatStatus(s).udp, c.text);
    }
}

}  // namespace
}  // namespace tavrel
