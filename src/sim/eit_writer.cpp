#include "sim/eit_writer.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "sim/arib_text_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"

namespace tavrel::sim {
namespace {

void PutLanguage(std::vector<uint8_t>& out, std::string_view language) {
    if (language.size() != 3) {
        throw std::invalid_argument("language code is three letters");
    }
    for (const char c : language) {
        PutU8(out, static_cast<uint8_t>(c));
    }
}

// Room for the events of one section: 4093 bytes of section_length less the header, the
// fixed EIT fields and the CRC.
constexpr size_t kEventRoom = 4093 - 5 - 6 - 4;

}  // namespace

std::vector<uint8_t> ShortEventDescriptor(std::string_view name_utf8, std::string_view text_utf8,
                                          std::string_view language) {
    std::vector<uint8_t> body;
    PutLanguage(body, language);
    PutLengthPrefixed(body, EncodeAribText(name_utf8));
    PutLengthPrefixed(body, EncodeAribText(text_utf8));
    return Descriptor(0x4D, body);
}

std::vector<uint8_t> ComponentDescriptor(uint8_t component_type, uint8_t component_tag,
                                         uint8_t stream_content) {
    std::vector<uint8_t> body;
    PutU8(body, 0xF0 | (stream_content & 0x0F));
    PutU8(body, component_type);
    PutU8(body, component_tag);
    PutLanguage(body, "jpn");
    return Descriptor(0x50, body);
}

std::vector<uint8_t> AudioComponentDescriptor(uint8_t component_type, uint8_t component_tag) {
    std::vector<uint8_t> body;
    PutU8(body, 0xF2);  // stream_content 2
    PutU8(body, component_type);
    PutU8(body, component_tag);
    PutU8(body, 0x0F);  // stream_type: AAC
    PutU8(body, 0xFF);  // simulcast_group_tag: none
    // ES_multi_lingual 0, main_component 1, quality_indicator 1, sampling_rate 7 (48 kHz)
    PutU8(body, 0x5F);
    PutLanguage(body, "jpn");
    return Descriptor(0xC4, body);
}

std::vector<uint8_t> EitEventBytes(const EitEvent& e) {
    std::vector<uint8_t> descriptors;
    if (e.short_event) {
        PutBytes(descriptors, ShortEventDescriptor(e.name, e.text));
    }
    if (e.video_component_type) {
        PutBytes(descriptors, ComponentDescriptor(*e.video_component_type));
    }
    if (e.audio_component_type) {
        PutBytes(descriptors, AudioComponentDescriptor(*e.audio_component_type));
    }
    PutBytes(descriptors, e.more_descriptors);
    if (descriptors.size() > 0x0FFF) {
        throw std::invalid_argument("event descriptors too long");
    }
    std::vector<uint8_t> out;
    PutU16(out, e.event_id);
    PutMjdTime(out, e.start);
    PutDuration(out, e.duration);
    PutU16(out,
           (uint32_t{e.running_status} & 7) << 13 | (e.free_ca ? 0x1000 : 0) | descriptors.size());
    PutBytes(out, descriptors);
    return out;
}

std::vector<uint8_t> EitSection(const EitFields& f, const std::vector<EitEvent>& events) {
    std::vector<uint8_t> body;
    PutU16(body, f.transport_stream_id);
    PutU16(body, f.original_network_id);
    PutU8(body, f.segment_last_section_number);
    PutU8(body, f.last_table_id != 0 ? f.last_table_id : f.table_id);
    for (const EitEvent& e : events) {
        PutBytes(body, EitEventBytes(e));
    }
    LongSection fields;
    fields.table_id = f.table_id;
    fields.table_id_extension = f.service_id;
    fields.version = f.version;
    fields.section_number = f.section_number;
    fields.last_section_number = f.last_section_number;
    fields.private_indicator = true;
    return MakeSection(fields, body);
}

std::vector<std::vector<uint8_t>> PresentFollowingSections(bool actual, uint16_t service_id,
                                                           uint16_t transport_stream_id,
                                                           uint16_t original_network_id,
                                                           uint8_t version, const EitEvent* present,
                                                           const EitEvent* following) {
    EitFields f;
    f.table_id = actual ? 0x4E : 0x4F;
    f.service_id = service_id;
    f.version = version;
    f.last_section_number = 1;
    f.segment_last_section_number = 1;
    f.transport_stream_id = transport_stream_id;
    f.original_network_id = original_network_id;
    std::vector<std::vector<uint8_t>> out;
    for (const EitEvent* e : {present, following}) {
        std::vector<EitEvent> events;
        if (e != nullptr) {
            events.push_back(*e);
        }
        out.push_back(EitSection(f, events));
        ++f.section_number;
    }
    return out;
}

std::vector<std::vector<uint8_t>> ScheduleSections(bool actual, uint16_t service_id,
                                                   uint16_t transport_stream_id,
                                                   uint16_t original_network_id, uint8_t version,
                                                   uint32_t first_mjd,
                                                   const std::vector<EitEvent>& events) {
    const uint8_t first_table = actual ? 0x50 : 0x60;
    // (table, segment) -> the event bytes of each section of that segment.
    std::map<std::pair<uint8_t, uint8_t>, std::vector<std::vector<EitEvent>>> segments;
    std::vector<EitEvent> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const EitEvent& a, const EitEvent& b) { return a.start < b.start; });
    for (const EitEvent& e : sorted) {
        if (e.start.mjd < first_mjd || e.start.mjd - first_mjd >= 32) {
            throw std::invalid_argument("event outside the 32 days of the schedule");
        }
        const uint32_t day = e.start.mjd - first_mjd;
        const uint8_t table = static_cast<uint8_t>(first_table + day / 4);
        const uint8_t segment = static_cast<uint8_t>(((day % 4) * 24 + e.start.seconds / 3600) / 3);
        auto& sections = segments[{table, segment}];
        const size_t size = EitEventBytes(e).size();
        size_t used = 0;
        if (!sections.empty()) {
            for (const EitEvent& in : sections.back()) {
                used += EitEventBytes(in).size();
            }
        }
        if (sections.empty() || used + size > kEventRoom) {
            if (sections.size() == 8) {
                throw std::invalid_argument("segment needs more than eight sections");
            }
            sections.emplace_back();
        }
        sections.back().push_back(e);
    }
    if (segments.empty()) {
        return {};
    }
    const uint8_t last_table = segments.rbegin()->first.first;
    std::map<uint8_t, uint8_t> last_section;  // per table
    for (const auto& [key, sections] : segments) {
        last_section[key.first] = static_cast<uint8_t>(key.second * 8 + sections.size() - 1);
    }
    std::vector<std::vector<uint8_t>> out;
    for (const auto& [key, sections] : segments) {
        EitFields f;
        f.table_id = key.first;
        f.service_id = service_id;
        f.version = version;
        f.transport_stream_id = transport_stream_id;
        f.original_network_id = original_network_id;
        f.last_section_number = last_section[key.first];
        f.last_table_id = last_table;
        f.segment_last_section_number = static_cast<uint8_t>(key.second * 8 + sections.size() - 1);
        for (size_t i = 0; i < sections.size(); ++i) {
            f.section_number = static_cast<uint8_t>(key.second * 8 + i);
            out.push_back(EitSection(f, sections[i]));
        }
    }
    return out;
}

}  // namespace tavrel::sim
