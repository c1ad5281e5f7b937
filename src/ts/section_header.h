#pragma once

#include <cstdint>
#include <span>

namespace tavrel {

// The header of a PSI/SI section, read from its first (up to) 8 bytes.
struct SectionHeader {
    uint8_t table_id = 0;
    uint8_t section_syntax_indicator = 0;
    uint32_t section_length = 0;
    uint16_t table_id_extension = 0;
    uint8_t version_number = 0;
    uint8_t current_next_indicator = 0;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;

    // Bytes of the whole section, CRC included.
    uint32_t TotalLength() const { return section_length + 3; }
};

// Needs at least 3 bytes; the long-form fields are read only when the syntax indicator is
// set and 8 bytes are there, and are 0 otherwise.
inline SectionHeader ParseSectionHeader(std::span<const uint8_t> bytes) {
    SectionHeader h;
    if (bytes.size() < 3) {
        return h;
    }
    h.table_id = bytes[0];
    h.section_syntax_indicator = (bytes[1] >> 7) & 1;
    h.section_length = static_cast<uint32_t>(((bytes[1] & 0x0F) << 8) | bytes[2]);
    if (h.section_syntax_indicator && bytes.size() >= 8) {
        h.table_id_extension = static_cast<uint16_t>((bytes[3] << 8) | bytes[4]);
        h.version_number = (bytes[5] >> 1) & 0x1F;
        h.current_next_indicator = bytes[5] & 1;
        h.section_number = bytes[6];
        h.last_section_number = bytes[7];
    }
    return h;
}

}  // namespace tavrel
