// The PAT an output sends when it is limited to some programmes.
#include <algorithm>
#include <span>

#include "ts/crc32.h"
#include "ts/ts_processor.h"

namespace tavrel {

bool CTsProcessor::RewritePat(const ActiveOutput& output, uint8_t* unit) const {
    const PacketHeader header = ParsePacketHeader(unit);
    // Where the section starts: after the adaptation field, if any, and after the
    // pointer_field of a unit start.
    size_t s = 4;
    if (header.adaptation_field_control & 2) {
        s += 1 + size_t{unit[4]};
    }
    if (header.payload_unit_start_indicator) {
        if (s >= kTsPacketSize) {
            return false;
        }
        s += 1 + size_t{unit[s]};
    }

    size_t passing = 0;
    for (const ProgramEntry& entry : pat_list_) {
        passing += (output.program_mode == 0) == output.HasProgram(entry.program_number);
    }
    // Fixed fields (8), the programme loop and the CRC (4) must fit into the 188 bytes.
    if (s + 8 + 4 * passing + 4 > kTsPacketSize) {
        return false;
    }

    uint8_t* section = unit + s;
    size_t k = 0;
    for (const ProgramEntry& entry : pat_list_) {
        if ((output.program_mode == 0) != output.HasProgram(entry.program_number)) {
            continue;
        }
        uint8_t* e = section + 8 + 4 * k++;
        e[0] = static_cast<uint8_t>(entry.program_number >> 8);
        e[1] = static_cast<uint8_t>(entry.program_number);
        e[2] = static_cast<uint8_t>(0xE0 | ((entry.pmt_pid >> 8) & 0x1F));
        e[3] = static_cast<uint8_t>(entry.pmt_pid);
    }
    const size_t section_length = 4 * passing + 9;
    section[1] = static_cast<uint8_t>(0xB0 | ((section_length >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(section_length);
    const size_t crc_at = 4 * passing + 8;
    const uint32_t crc = Crc32Mpeg2(std::span<const uint8_t>(section, crc_at));
    section[crc_at] = static_cast<uint8_t>(crc >> 24);
    section[crc_at + 1] = static_cast<uint8_t>(crc >> 16);
    section[crc_at + 2] = static_cast<uint8_t>(crc >> 8);
    section[crc_at + 3] = static_cast<uint8_t>(crc);
    // Whatever the received PAT had behind its CRC would be read as the start of another
    // section: the rest of the packet becomes stuffing.
    std::fill(section + crc_at + 4, unit + kTsPacketSize, uint8_t{0xFF});
    return true;
}

}  // namespace tavrel
