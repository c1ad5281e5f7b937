#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "ts/byte_reader.h"
#include "ts/mjd_time.h"
#include "ts/section_header.h"

namespace tavrel {

// Where an event came from; a lower kind is more authoritative.
enum EventKind : uint8_t {
    kEventKindOther = 0,                   // any other table
    kEventKindPresentFollowingActual = 1,  // 0x4E
    kEventKindPresentFollowingOther = 2,   // 0x4F
    kEventKindScheduleActual = 3,          // 0x50 to 0x57
    kEventKindScheduleOther = 4,           // 0x60 to 0x67
};

// Duration and end seconds of an event whose duration the broadcaster left open.
inline constexpr uint32_t kUndefinedDuration = 0xFFFFFFFF;

// One programme event. Other records (reservations) embed a copy of it by value, so its
// layout and size are fixed: 272 bytes, values in host order.
struct EventRecord {
    static constexpr size_t kNameSize = 81;   // event name, bytes including the NUL
    static constexpr size_t kTextSize = 161;  // short event text

    uint8_t kind = kEventKindOther;
    uint8_t version = 0;
    uint16_t service_id = 0;
    uint16_t event_id = 0;
    std::array<char, kNameSize> name{};  // NUL-terminated Shift_JIS
    std::array<char, kTextSize> text{};
    MjdTime start;
    // With an undefined duration: the start MJD and kUndefinedDuration as seconds.
    MjdTime end;
    uint32_t duration = 0;  // seconds, or kUndefinedDuration
    uint8_t video_component_type = 0;
    uint8_t audio_component_type = 0;

    bool EndDefined() const { return end.seconds != kUndefinedDuration; }
};

static_assert(sizeof(EventRecord) == 272);
static_assert(std::is_trivially_copyable_v<EventRecord>);
static_assert(std::is_standard_layout_v<EventRecord>);
static_assert(offsetof(EventRecord, name) == 6 && offsetof(EventRecord, text) == 87);
static_assert(offsetof(EventRecord, start) == 248 && offsetof(EventRecord, duration) == 264);

uint8_t EventKindFromTableId(uint8_t table_id);

// Parses one event of an EIT event loop: its 12 fixed bytes and its descriptors. `record`
// is overwritten; kind, version and service_id come from the section header. False (and
// the record left as it was) when fewer than 12 bytes are left. A descriptor loop longer
// than what is left is read as far as it goes and fails `loop`, which ends the event loop.
bool ParseEvent(ByteReader& loop, const SectionHeader& section, EventRecord& record);

// A heap record, or null when memory is short: callers give up the section or skip the copy
// instead of unwinding the packet loop.
std::unique_ptr<EventRecord> NewEventRecord(const EventRecord& value = {});

}  // namespace tavrel
