#include "ui/programme_guide.h"

#include <cstdio>

#include "platform/text_encoding.h"
#include "ui/service_texts.h"

namespace tavrel {

const std::array<GuideColour, kGuideColourCount> kGuideColours = {{
    {0x0000FF, 0xFFFFFF},  // selected
    {0xFFC8C8, 0x000000},  // odd lines: Sunday (reddish) to Saturday (bluish)
    {0xFFFFC8, 0x000000},
    {0xC8FFC8, 0x000000},
    {0xFFFFC8, 0x000000},
    {0xC8FFC8, 0x000000},
    {0xFFFFC8, 0x000000},
    {0xC8C8FF, 0x000000},
    {0xF5C8C8, 0x000000},  // even lines, a paler shade
    {0xF5F5C8, 0x000000},
    {0xC8F5C8, 0x000000},
    {0xF5F5C8, 0x000000},
    {0xC8F5C8, 0x000000},
    {0xF5F5C8, 0x000000},
    {0xC8C8F5, 0x000000},
}};

int GuideWeekdayIndex(uint32_t mjd) {
    // MJD 0 was a Wednesday.
    return static_cast<int>((mjd + 3) % 7);
}

std::string GuideLineText(const EventRecord& record) {
    std::string line;
    if (record.start.seconds == kUndefinedDuration) {
        line = "??\\[] 不明 -未定 ";
    } else {
        const CalendarDate date = DateFromMjd(record.start.mjd);
        const ClockTime start = SplitSeconds(record.start.seconds);
        char text[48];
        std::snprintf(text, sizeof text, "%04d/%02d/%02d", date.year, date.month, date.day);
        line = text;
        line += '(';
        line += WeekdayName(record.start.mjd);
        line += ") ";
        std::snprintf(text, sizeof text, "%02u:%02u-", start.hours, start.minutes);
        line += text;
        if (record.duration == kUndefinedDuration) {
            line += "未定 ";
        } else {
            const ClockTime end = SplitSeconds(record.end.seconds);
            std::snprintf(text, sizeof text, "%02u:%02u", end.hours, end.minutes);
            line += text;
        }
    }
    char id[24];
    std::snprintf(id, sizeof id, " [0x%04X] ", record.event_id);
    return line + id + ShiftJisBufferToUtf8(record.name);
}

ProgrammeGuide::ProgrammeGuide(uint16_t service_id, std::vector<EventRecord> events)
    : service_id_(service_id), events_(std::move(events)) {
    lines_.reserve(events_.size());
    item_data_.reserve(events_.size());
    for (size_t i = 0; i < events_.size(); ++i) {
        lines_.push_back(GuideLineText(events_[i]));
        const auto weekday = static_cast<uint32_t>(GuideWeekdayIndex(events_[i].start.mjd));
        item_data_.push_back(weekday << 16 | (i & 0xFFFF));
    }
}

int ProgrammeGuide::ColourIndex(size_t line, bool selected) const {
    if (selected) {
        return 0;
    }
    const auto weekday = static_cast<int>(ItemData(line) >> 16);
    return weekday + (line % 2 == 1 ? 1 : 8);
}

std::optional<int> ProgrammeGuide::ReserveChoice(int selected_line) const {
    if (selected_line < 0 || static_cast<size_t>(selected_line) >= item_data_.size()) {
        return std::nullopt;
    }
    return static_cast<int>(item_data_[static_cast<size_t>(selected_line)] & 0xFFFF);
}

}  // namespace tavrel
