#include "app/status_display.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace tavrel {
namespace {

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string Unsigned(uint32_t value) {
    return Format("%u", value);
}

std::string MinutesSeconds(uint32_t seconds) {
    return Format("%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
}

// Whether a tick has been reached, for ticks that wrap at 2^32.
bool Reached(uint32_t now, uint32_t tick) {
    return static_cast<int32_t>(now - tick) >= 0;
}

void FormatBroadcastTime(const StatusSnapshot& s, StatusTexts& t) {
    if (s.time_date == 0) {
        return;
    }
    const uint32_t since = s.now_tick - s.time_tick;
    MjdTime now{s.time_date, s.time_seconds};
    if (since > 1000) {
        AddSeconds(now, since / 1000);
    }
    const CalendarDate date = DateFromMjd(now.mjd);
    const ClockTime clock = SplitSeconds(now.seconds);
    // The mark says the clock was set less than a second ago.
    t.broadcast_time = Format("%c%04d/%02d/%02d\n%02d:%02d:%02d", since < 1000 ? '*' : ' ',
                              date.year, date.month, date.day, static_cast<int>(clock.hours),
                              static_cast<int>(clock.minutes), static_cast<int>(clock.seconds));
    t.broadcast_now = now;
}

void FormatRecording(const StatusSnapshot& s, StatusTexts& t) {
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    if (!s.recorder) {
        t.recording = "録画停止中";
    } else if (s.bytes_written > 0) {
        t.recording = Format("録画中 %" PRIu64 " MByte", s.bytes_written / kMiB);
    } else {
        t.recording = "録画バッファ中";
    }

    const bool open = s.recorder && s.recorder_open;
    if (open) {
        t.free_space = Format("空き %" PRIu64 " MByte", s.free_space / kMiB);
        t.stop_for_free_space = s.free_space <= 0xC800000;  // 200 MiB
    } else {
        t.free_space = " ";
    }

    // A recording stopped for lack of space has no file any more when its timer is looked at.
    if (!open || t.stop_for_free_space) {
        t.status_bar = {" ", " "};
    } else if (s.auto_stop_tick == 0) {
        t.status_bar = {MinutesSeconds((s.now_tick - s.recording_start_tick) / 1000),
                        "録画自動停止設定なし"};
    } else if (Reached(s.now_tick, s.auto_stop_tick)) {
        t.status_bar = {" ", "自動停止処理中"};
        t.stop_for_timer = true;
    } else {
        t.status_bar = {MinutesSeconds((s.now_tick - s.recording_start_tick) / 1000),
                        MinutesSeconds((s.auto_stop_tick - s.now_tick) / 1000) + " 後に自動停止"};
    }
}

void FormatSending(const StatusSnapshot& s, StatusTexts& t) {
    if (!s.sender) {
        t.udp = "送信停止中";
    } else if (s.bytes_sent > 0) {
        const auto& a = s.destination;
        t.udp = Format("送信中(%d.%d.%d.%d) %" PRIu64 " MByte", a[0], a[1], a[2], a[3],
                       s.bytes_sent >> 20);
    } else {
        t.udp = "送信バッファ中";
    }
}

}  // namespace

std::string FormatElapsed(uint32_t seconds) {
    return seconds >= 60 ? MinutesSeconds(seconds) : Format("%d", static_cast<int>(seconds));
}

std::string FormatRate(double bytes_per_second) {
    const auto k = static_cast<int64_t>(bytes_per_second * 8 / 1024);  // kbit/s
    // Hundredths are tenths of the kbit remainder; the last 34 of 1024 would read as three
    // digits, so they stay at .99 instead of showing a smaller-looking fraction.
    const int64_t hundredths = std::min<int64_t>((k % 1024) / 10, 99);
    return Format("%d.%02d Mbps", static_cast<int>(k / 1024), static_cast<int>(hundredths));
}

StatusTexts FormatStatus(const StatusSnapshot& s) {
    StatusTexts t;
    t.time = FormatElapsed((s.now_tick - s.device_start_tick) / 1000);
    t.success = Unsigned(s.success_count);
    t.failure = Unsigned(s.failure_count);
    t.rate = FormatRate(s.rate);
    t.device_status = s.device_status;
    t.buffer = Format("%dKB/%dKB\nR:%d Sy:%d St:%d", static_cast<int>(s.buffer_held / 1024),
                      static_cast<int>(s.buffer_limit / 1024), static_cast<int>(s.overflow_resets),
                      static_cast<int>(s.counter_sy), static_cast<int>(s.counter_st));
    t.packet_length = Unsigned(s.packet_length);
    t.sync_errors = Unsigned(s.sync_errors);
    t.discontinuities = Unsigned(s.discontinuities);
    t.scrambled = Unsigned(s.scrambled);
    FormatBroadcastTime(s, t);
    FormatRecording(s, t);
    FormatSending(s, t);
    return t;
}

}  // namespace tavrel
