#include "sim/sdt_writer.h"

#include "sim/arib_text_writer.h"
#include "sim/section_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> ServiceDescriptor(uint8_t service_type, std::string_view provider_utf8,
                                       std::string_view name_utf8) {
    std::vector<uint8_t> body;
    PutU8(body, service_type);
    PutLengthPrefixed(body, EncodeAribText(provider_utf8));
    PutLengthPrefixed(body, EncodeAribText(name_utf8));
    return Descriptor(0x48, body);
}

std::vector<uint8_t> SdtSection(bool actual, uint16_t transport_stream_id,
                                uint16_t original_network_id, uint8_t version,
                                const std::vector<SdtService>& services, uint8_t section_number,
                                uint8_t last_section_number) {
    std::vector<uint8_t> body;
    PutU16(body, original_network_id);
    PutU8(body, 0xFF);  // reserved_future_use
    for (const SdtService& s : services) {
        std::vector<uint8_t> descriptors;
        if (s.service_descriptor) {
            PutBytes(descriptors, ServiceDescriptor(s.service_type, s.provider, s.name));
        }
        PutBytes(descriptors, s.more_descriptors);
        PutU16(body, s.service_id);
        // reserved_future_use (3 bits), EIT_user_defined_flags (3 bits), the two EIT flags
        PutU8(body, 0xE0 | (s.eit_schedule ? 2 : 0) | (s.eit_present_following ? 1 : 0));
        PutU16(body, (uint32_t{s.running_status} & 7) << 13 | (s.free_ca ? 0x1000 : 0) |
                         (descriptors.size() & 0x0FFF));
        PutBytes(body, descriptors);
    }
    LongSection fields;
    fields.table_id = actual ? 0x42 : 0x46;
    fields.table_id_extension = transport_stream_id;
    fields.version = version;
    fields.section_number = section_number;
    fields.last_section_number = last_section_number;
    fields.private_indicator = true;  // reserved_future_use, set in SI tables
    return MakeSection(fields, body);
}

}  // namespace tavrel::sim
