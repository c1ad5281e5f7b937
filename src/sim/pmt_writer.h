#pragma once

#include <cstdint>
#include <vector>

namespace tavrel::sim {

struct PmtStream {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptors;  // already encoded, back to back
};

// A program map section.
std::vector<uint8_t> PmtSection(uint16_t program_number, uint8_t version, uint16_t pcr_pid,
                                const std::vector<uint8_t>& program_descriptors,
                                const std::vector<PmtStream>& streams);

// The stream identifier descriptor (0x52) carrying a component tag.
std::vector<uint8_t> StreamIdentifierDescriptor(uint8_t component_tag);

}  // namespace tavrel::sim
