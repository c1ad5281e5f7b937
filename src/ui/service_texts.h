#pragma once

// The texts the service window and the programme guide show for programmes and streams. All
// results are UTF-8; the records they come from hold Shift_JIS.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ts/event_record.h"
#include "ts/mjd_time.h"
#include "ts/program_entries.h"

namespace tavrel {

// Parts of FormatEventText, appended in this order when their flag is set.
enum EventTextFlags : uint32_t {
    kEventTextStartDate = 0x00000001,   // "YYYY/MM/DD(曜) "
    kEventTextEndDate = 0x00000002,     // the end's date before its time
    kEventTextStartTime = 0x00000004,   // "hh:mm", then " - " and the end
    kEventTextEnd = 0x00000008,         // " - " and the end without the start time
    kEventTextName = 0x00000010,        // the programme name
    kEventTextDetail = 0x00000020,      // the short event text
    kEventTextComponents = 0x20000000,  // " 映像(...)" and " 音声(...)"
    kEventTextBrackets = 0x40000000,    // the name inside "<< >>"
    kEventTextNewLines = 0x80000000,    // name and text each on a line of their own
};

// The form of a list cell ("19:00 - 19:54 name") and of a tooltip (date, times, components,
// then name and text on their own lines).
inline constexpr uint32_t kEventCellForm = 0x1C;
inline constexpr uint32_t kEventTipForm = 0xA000003D;

// "水", "木", ... by MJD mod 7 (MJD 0 was a Wednesday).
std::string_view WeekdayName(uint32_t mjd);

// "D3 1080i,16:9" style texts of the component types; "?" parts for unknown values.
std::string VideoComponentText(uint8_t component_type);
std::string_view AudioComponentText(uint8_t component_type);

// One programme as text. `name` and `text` are Shift_JIS as the records hold them.
std::string FormatEventText(uint32_t flags, MjdTime start, MjdTime end, std::string_view name,
                            std::string_view text, uint8_t video_component_type,
                            uint8_t audio_component_type);
std::string FormatEventText(uint32_t flags, const EventRecord& record);

// A row's tooltip: "name(id)" (the name alone for id 0xFFFF), then the current programme's
// details and, only with those, the next programme's. Texts are UTF-8.
std::string BuildRowTip(uint16_t service_id, std::string_view channel_name,
                        std::string_view current_tip, std::string_view next_tip);

// The stream column of a service: "0x%04X(%3s) " per stream, ending with "..." once the text
// has reached 190 characters.
std::string StreamColumnText(std::span<const StreamEntry> streams);
// Every elementary PID of the streams once, in their order.
std::vector<uint16_t> DistinctPids(std::span<const StreamEntry> streams);

// A Shift_JIS record text up to its NUL, cut to `room` bytes without splitting a character,
// as UTF-8.
std::string ShiftJisPrefixToUtf8(std::string_view text, size_t room);

}  // namespace tavrel
