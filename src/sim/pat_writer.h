#pragma once

#include <cstdint>
#include <vector>

#include "ts/program_entries.h"

namespace tavrel::sim {

// A program association section. Programme 0 names the network PID.
std::vector<uint8_t> PatSection(uint16_t transport_stream_id, uint8_t version,
                                const std::vector<ProgramEntry>& programs,
                                uint8_t section_number = 0, uint8_t last_section_number = 0);

}  // namespace tavrel::sim
