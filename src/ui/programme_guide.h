#pragma once

// The provisional programme guide of one service: a snapshot of its programmes, one line per
// programme coloured by weekday, and the choice of a line to reserve. The dialog draws it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ts/event_record.h"

namespace tavrel {

// What the dialog returns when it is closed without a choice.
inline constexpr int kGuideClosed = -1;

struct GuideColour {
    uint32_t brush;  // 0xRRGGBB
    uint32_t text;
};
// By colour index: 0 the selected line, 1 to 7 odd lines Sunday to Saturday, 8 to 14 even
// lines.
inline constexpr size_t kGuideColourCount = 15;
extern const std::array<GuideColour, kGuideColourCount> kGuideColours;

// Sunday 0 to Saturday 6 of a start MJD.
int GuideWeekdayIndex(uint32_t mjd);
// "2008/03/15(土) 19:00-19:54 [0x1A2B] name", with "未定 " for an open end and
// "??\[] 不明 -未定 " for an unknown start. UTF-8.
std::string GuideLineText(const EventRecord& record);

class ProgrammeGuide {
public:
    ProgrammeGuide(uint16_t service_id, std::vector<EventRecord> events);

    uint16_t ServiceId() const { return service_id_; }
    const std::vector<EventRecord>& Events() const { return events_; }
    const std::vector<std::string>& Lines() const { return lines_; }
    // An empty guide is shown disabled.
    bool ListEnabled() const { return !events_.empty(); }
    // The item data of a line: weekday index x 65536 + line index (16 bits).
    uint32_t ItemData(size_t line) const { return item_data_.at(line); }
    // The colour of a line as drawn.
    int ColourIndex(size_t line, bool selected) const;
    // The reserve button with the list's selection (-1 for none): the line to end the dialog
    // with, or nothing when no line is selected and the dialog stays open.
    std::optional<int> ReserveChoice(int selected_line) const;

private:
    uint16_t service_id_;
    std::vector<EventRecord> events_;
    std::vector<std::string> lines_;
    std::vector<uint32_t> item_data_;
};

}  // namespace tavrel
