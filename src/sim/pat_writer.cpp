#include "sim/pat_writer.h"

#include "sim/section_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> PatSection(uint16_t transport_stream_id, uint8_t version,
                                const std::vector<ProgramEntry>& programs, uint8_t section_number,
                                uint8_t last_section_number) {
    std::vector<uint8_t> body;
    for (const ProgramEntry& p : programs) {
        PutU16(body, p.program_number);
        PutU16(body, 0xE000 | (p.pmt_pid & 0x1FFF));
    }
    LongSection fields;
    fields.table_id = 0x00;
    fields.table_id_extension = transport_stream_id;
    fields.version = version;
    fields.section_number = section_number;
    fields.last_section_number = last_section_number;
    return MakeSection(fields, body);
}

}  // namespace tavrel::sim
