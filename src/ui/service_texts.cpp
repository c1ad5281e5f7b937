#include "ui/service_texts.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/text_encoding.h"
#include "ts/stream_types.h"

namespace tavrel {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {"水", "木", "金", "土", "日", "月", "火"};
constexpr size_t kStreamColumnLimit = 190;

std::string DateText(uint32_t mjd) {
    const CalendarDate date = DateFromMjd(mjd);
    char text[40];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", date.year, date.month, date.day);
    return std::string(text) + "(" + std::string(WeekdayName(mjd)) + ") ";
}

std::string TimeText(uint32_t seconds) {
    const ClockTime time = SplitSeconds(seconds);
    char text[24];
    std::snprintf(text, sizeof text, "%02u:%02u", time.hours, time.minutes);
    return text;
}

std::string NameText(uint32_t flags, const std::string& name) {
    const bool new_line = (flags & kEventTextNewLines) != 0;
    const bool brackets = (flags & kEventTextBrackets) != 0;
    if (brackets) {
        return (new_line ? "\n<< " : " << ") + name + " >>";
    }
    return (new_line ? "\n" : " ") + name;
}

}  // namespace

std::string_view WeekdayName(uint32_t mjd) {
    return kWeekdays[mjd % 7];
}

std::string VideoComponentText(uint8_t component_type) {
    std::string_view resolution = "?";
    switch (component_type >> 4) {
        case 0x0:
            resolution = "D1 480i";
            break;
        case 0xA:
            resolution = "D2 480p";
            break;
        case 0xB:
            resolution = "D3 1080i";
            break;
        default:
            break;
    }
    std::string_view aspect = "?:?";
    switch (component_type & 0x0F) {
        case 1:
            aspect = "4:3";
            break;
        case 3:
            aspect = "16:9";
            break;
        default:
            break;
    }
    return std::string(resolution) + "," + std::string(aspect);
}

std::string_view AudioComponentText(uint8_t component_type) {
    switch (component_type) {
        case 1:
            return "モノラル";
        case 2:
            return "モノラルx2";
        case 3:
            return "ステレオ";
        case 9:
            return "5.1ch";
        default:
            return "?";
    }
}

std::string FormatEventText(uint32_t flags, MjdTime start, MjdTime end, std::string_view name,
                            std::string_view text, uint8_t video_component_type,
                            uint8_t audio_component_type) {
    std::string out;
    if (flags & kEventTextStartDate) {
        out += DateText(start.mjd);
    }
    if (flags & kEventTextStartTime) {
        out += TimeText(start.seconds);
    }
    if (flags & (kEventTextStartTime | kEventTextEnd)) {
        out += " - ";
        if (end.seconds == kUndefinedDuration) {
            out += "未定 ";
        } else {
            if (flags & kEventTextEndDate) {
                out += DateText(end.mjd);
            }
            out += TimeText(end.seconds);
        }
    }
    if (flags & kEventTextComponents) {
        if (video_component_type != 0) {
            out += " 映像(" + VideoComponentText(video_component_type) + ")";
        }
        if (audio_component_type != 0) {
            out += " 音声(" + std::string(AudioComponentText(audio_component_type)) + ")";
        }
    }
    if (flags & kEventTextName) {
        out += NameText(flags, ShiftJisBufferToUtf8(name));
    }
    if (flags & kEventTextDetail) {
        const bool own_line = (flags & kEventTextNewLines) && (flags & kEventTextName);
        out += own_line ? '\n' : ' ';
        out += ShiftJisBufferToUtf8(text);
    }
    return out;
}

std::string FormatEventText(uint32_t flags, const EventRecord& record) {
    return FormatEventText(flags, record.start, record.end,
                           std::string_view(record.name.data(), record.name.size()),
                           std::string_view(record.text.data(), record.text.size()),
                           record.video_component_type, record.audio_component_type);
}

std::string BuildRowTip(uint16_t service_id, std::string_view channel_name,
                        std::string_view current_tip, std::string_view next_tip) {
    std::string tip(channel_name);
    if (service_id != 0xFFFF) {
        tip += '(';
        tip += std::to_string(service_id);
        tip += ')';
    }
    if (!current_tip.empty()) {
        tip += "\n\n現在の番組>> ";
        tip += current_tip;
        if (!next_tip.empty()) {
            tip += "\n\n次の番組>> ";
            tip += next_tip;
        }
    }
    return tip;
}

std::string StreamColumnText(std::span<const StreamEntry> streams) {
    std::string text;
    for (const StreamEntry& s : streams) {
        text += FormatStream(s.stream_type, s.elementary_pid);
        if (text.size() >= kStreamColumnLimit) {
            text += "...";
            break;
        }
    }
    return text;
}

std::vector<uint16_t> DistinctPids(std::span<const StreamEntry> streams) {
    std::vector<uint16_t> pids;
    pids.reserve(streams.size());
    for (const StreamEntry& s : streams) {
        if (std::find(pids.begin(), pids.end(), s.elementary_pid) == pids.end()) {
            pids.push_back(s.elementary_pid);
        }
    }
    return pids;
}

std::string ShiftJisPrefixToUtf8(std::string_view text, size_t room) {
    return ShiftJisToUtf8(text.substr(0, ShiftJisFittingLength(text, room)));
}

}  // namespace tavrel
