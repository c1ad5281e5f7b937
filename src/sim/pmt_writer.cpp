#include "sim/pmt_writer.h"

#include "sim/section_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> PmtSection(uint16_t program_number, uint8_t version, uint16_t pcr_pid,
                                const std::vector<uint8_t>& program_descriptors,
                                const std::vector<PmtStream>& streams) {
    std::vector<uint8_t> body;
    PutU16(body, 0xE000 | (pcr_pid & 0x1FFF));
    PutU16(body, 0xF000 | program_descriptors.size());
    PutBytes(body, program_descriptors);
    for (const PmtStream& s : streams) {
        PutU8(body, s.stream_type);
        PutU16(body, 0xE000 | (s.pid & 0x1FFF));
        PutU16(body, 0xF000 | s.descriptors.size());
        PutBytes(body, s.descriptors);
    }
    LongSection fields;
    fields.table_id = 0x02;
    fields.table_id_extension = program_number;
    fields.version = version;
    return MakeSection(fields, body);
}

std::vector<uint8_t> StreamIdentifierDescriptor(uint8_t component_tag) {
    const uint8_t body[1] = {component_tag};
    return Descriptor(0x52, body);
}

}  // namespace tavrel::sim
