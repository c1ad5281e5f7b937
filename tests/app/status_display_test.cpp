#include "app/status_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrel {
namespace {

constexpr uint32_t kMjd20090101 = 54832;
constexpr uint64_t kMiB = 1 << 20;
using S = StatusSnapshot;
using T = StatusTexts;

// The tables name only the figures that matter to each case; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Each single text of the display from the figures it shows.
TEST(StatusDisplay, EachFieldFromItsFigures) {
    const struct {
        S snapshot;
        std::string T::*field;
        const char* text;
    } cases[] = {
        // Elapsed time: minutes from sixty seconds on.
        {{.now_tick = 1999, .device_start_tick = 1000}, &T::time, "0"},
        {{.now_tick = 59'999}, &T::time, "59"},
        {{.now_tick = 60'000}, &T::time, "1:00"},
        {{.now_tick = 61'000}, &T::time, "1:01"},
        {{.now_tick = 3'661'000}, &T::time, "61:01"},
        {{.now_tick = 60'000, .device_start_tick = 0xFFFFFC18}, &T::time, "1:01"},  // wrapped
        // Rate in Mbit/s, hundredths truncated, zero-padded, and (decision) clamped to 99.
        {{.rate = 2'000'000}, &T::rate, "15.26 Mbps"},  // k = 15625: 15 and 265 / 10
        {{.rate = 0}, &T::rate, "0.00 Mbps"},
        {{.rate = 640}, &T::rate, "0.00 Mbps"},                    // 5 kbit/s
        {{.rate = 10'240}, &T::rate, "0.08 Mbps"},                 // 80 kbit/s
        {{.rate = 131'072}, &T::rate, "1.00 Mbps"},                // exactly 1024 kbit/s
        {{.rate = (1024 + 1000) * 128.0}, &T::rate, "1.99 Mbps"},  // remainder 1000
        {{.rate = 3'000'000}, &T::rate, "22.90 Mbps"},
        // Counters.
        {{.success_count = 4'000'000'000u}, &T::success, "4000000000"},
        {{.failure_count = 3}, &T::failure, "3"},
        {{.device_status = "Signal 12.5dB"}, &T::device_status, "Signal 12.5dB"},
        {{.packet_length = 188}, &T::packet_length, "188"},
        {{.sync_errors = 7}, &T::sync_errors, "7"},
        {{.discontinuities = 8}, &T::discontinuities, "8"},
        {{.scrambled = 9}, &T::scrambled, "9"},
        {{.overflow_resets = 1,
          .counter_sy = 2,
          .counter_st = 3,
          .buffer_held = 0x500000 + 1023,
          .buffer_limit = 0xA00000},
         &T::buffer,
         "5120KB/10240KB\nR:1 Sy:2 St:3"},
        // UDP sending.
        {{}, &T::udp, "送信停止中"},
        {{.sender = true}, &T::udp, "送信バッファ中"},
        {{.sender = true, .bytes_sent = 3 * kMiB + 5, .destination = {127, 0, 0, 1}},
         &T::udp,
         "送信中(127.0.0.1) 3 MByte"},
        {{.sender = true, .bytes_sent = 10, .destination = {192, 168, 10, 200}},
         &T::udp,
         "送信中(192.168.10.200) 0 MByte"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatStatus(c.snapshot).*c.field, c.text);
    }
}

TEST(StatusDisplay, BroadcastTimeAdvancesAndMarksTheFirstSecond) {
    constexpr uint32_t k030405 = 3 * 3600 + 4 * 60 + 5;
    const struct {
        uint32_t seconds;
        uint32_t since_event_ms;
        const char* text;
        MjdTime now;
    } cases[] = {
        {k030405, 0, "*2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        {k030405, 999, "*2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        // From one second on the mark goes; the clock moves only beyond it.
        {k030405, 1000, " 2009/01/01\n03:04:05", {kMjd20090101, k030405}},
        {k030405, 2999, " 2009/01/01\n03:04:07", {kMjd20090101, k030405 + 2}},
        {86399, 3000, " 2009/01/02\n00:00:02", {kMjd20090101 + 1, 2}},
    };
    for (const auto& c : cases) {
        // The event came just before the tick count wrapped.
        const T t = FormatStatus({.now_tick = 0xFFFFFF00 + c.since_event_ms,
                                  .time_date = kMjd20090101,
                                  .time_seconds = c.seconds,
                                  .time_tick = 0xFFFFFF00});
        EXPECT_EQ(t.broadcast_time, c.text) << c.since_event_ms;
        EXPECT_EQ(t.broadcast_now, c.now);
    }
    const T none = FormatStatus({.now_tick = 5000});
    EXPECT_EQ(none.broadcast_time, "");
    EXPECT_FALSE(none.broadcast_now.has_value());
}

TEST(StatusDisplay, RecordingStatesAndTheirStatusBar) {
    // Expected: recording | free space | status bar 1 | status bar 2 | stop for the timer (T),
    // stop for free space (S).
    const struct {
        int recorder;  // 0 none, 1 its file not open, 2 writing
        uint64_t written, free;
        uint32_t auto_stop;  // absolute tick
        const char* expected;
    } cases[] = {
        {0, 0, kMiB, 0, "録画停止中| | | |--"},
        {2, 0, 1024 * kMiB, 0, "録画バッファ中|空き 1024 MByte|1:05|録画自動停止設定なし|--"},
        {2, 5 * kMiB + 1, 1024 * kMiB, 0,
         "録画中 5 MByte|空き 1024 MByte|1:05|録画自動停止設定なし|--"},
        {2, kMiB, 1024 * kMiB, 320'500, "録画中 1 MByte|空き 1024 MByte|1:05|2:00 後に自動停止|--"},
        {2, kMiB, 200 * kMiB + 1, 200'000, "録画中 1 MByte|空き 200 MByte| |自動停止処理中|T-"},
        // The space stop comes first, also with the timer due, and ends the file.
        {2, kMiB, 200 * kMiB, 200'000, "録画中 1 MByte|空き 200 MByte| | |-S"},
        {2, kMiB, 0, 0, "録画中 1 MByte|空き 0 MByte| | |-S"},
        {1, 0, 0, 0, "録画バッファ中| | | |--"},
    };
    for (const auto& c : cases) {
        // now = 200000, recording started at 135000 (1:05 ago).
        const T t = FormatStatus({.now_tick = 200'000,
                                  .recorder = c.recorder > 0,
                                  .recorder_open = c.recorder > 1,
                                  .bytes_written = c.written,
                                  .free_space = c.free,
                                  .recording_start_tick = 135'000,
                                  .auto_stop_tick = c.auto_stop});
        EXPECT_EQ(t.recording + "|" + t.free_space + "|" + t.status_bar[0] + "|" + t.status_bar[1] +
                      "|" + (t.stop_for_timer ? "T" : "-") + (t.stop_for_free_space ? "S" : "-"),
                  c.expected);
    }
}

}  // namespace
}  // namespace tavrel
