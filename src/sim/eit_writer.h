#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ts/mjd_time.h"

namespace tavrel::sim {

struct EitEvent {
    uint16_t event_id = 0;
    MjdTime start;
    uint32_t duration = 0;  // seconds; kUndefinedDuration for an open end
    uint8_t running_status = 0;
    bool free_ca = false;
    bool short_event = true;  // a short event descriptor with name and text
    std::string name;         // UTF-8, written as ARIB text
    std::string text;
    std::optional<uint8_t> video_component_type;  // a component descriptor (0x50)
    std::optional<uint8_t> audio_component_type;  // an audio component descriptor (0xC4)
    std::vector<uint8_t> more_descriptors;        // already encoded, written last
};

struct EitFields {
    uint8_t table_id = 0x4E;
    uint16_t service_id = 0;
    uint8_t version = 0;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;
    uint16_t transport_stream_id = 0;
    uint16_t original_network_id = 0;
    uint8_t segment_last_section_number = 0;
    uint8_t last_table_id = 0;  // 0: the table_id itself
};

std::vector<uint8_t> ShortEventDescriptor(std::string_view name_utf8, std::string_view text_utf8,
                                          std::string_view language = "jpn");
// Video: stream_content 1 (MPEG-2); component_type 0xB3 is 1080i 16:9.
std::vector<uint8_t> ComponentDescriptor(uint8_t component_type, uint8_t component_tag = 0x00,
                                         uint8_t stream_content = 0x01);
// Audio: stream_content 2 (AAC), 48 kHz, main component; component_type 0x03 is stereo.
std::vector<uint8_t> AudioComponentDescriptor(uint8_t component_type, uint8_t component_tag = 0x10);

// The event loop entry of one event.
std::vector<uint8_t> EitEventBytes(const EitEvent& event);
// One event information section.
std::vector<uint8_t> EitSection(const EitFields& fields, const std::vector<EitEvent>& events);

// The present/following pair of a service: section 0 holds the present event, section 1 the
// following one; a missing event leaves its section empty. Table 0x4E or 0x4F.
std::vector<std::vector<uint8_t>> PresentFollowingSections(bool actual, uint16_t service_id,
                                                           uint16_t transport_stream_id,
                                                           uint16_t original_network_id,
                                                           uint8_t version, const EitEvent* present,
                                                           const EitEvent* following);

// The schedule of a service (tables 0x50 to 0x57 for the actual stream, 0x60 to 0x67 for
// another one), laid out as broadcasters do: each table covers four days from `first_mjd`,
// each 3-hour segment of it the section numbers 8 × segment onwards, as many sections as its
// events need. Events must start on one of the 32 days from first_mjd.
std::vector<std::vector<uint8_t>> ScheduleSections(bool actual, uint16_t service_id,
                                                   uint16_t transport_stream_id,
                                                   uint16_t original_network_id, uint8_t version,
                                                   uint32_t first_mjd,
                                                   const std::vector<EitEvent>& events);

}  // namespace tavrel::sim
