#include "sim/dii_writer.h"

#include <stdexcept>

#include "sim/section_writer.h"

namespace tavrel::sim {

void PutDownloadMessageHeader(std::vector<uint8_t>& out, uint16_t message_id, uint32_t id,
                              std::span<const uint8_t> adaptation, size_t body_length) {
    const size_t message_length = adaptation.size() + body_length;
    if (adaptation.size() > 255 || message_length > 0xFFFF) {
        throw std::invalid_argument("download message too long");
    }
    PutU8(out, 0x11);  // protocolDiscriminator
    PutU8(out, 0x03);  // dsmccType: download
    PutU16(out, message_id);
    PutU32(out, id);
    PutU8(out, 0xFF);  // reserved
    PutU8(out, static_cast<uint32_t>(adaptation.size()));
    PutU16(out, static_cast<uint32_t>(message_length));
    PutBytes(out, adaptation);
}

std::vector<uint8_t> DiiMessage(const Dii& dii) {
    std::vector<uint8_t> body;
    PutU32(body, dii.download_id);
    PutU16(body, dii.block_size);
    PutU8(body, dii.window_size);
    PutU8(body, dii.ack_period);
    PutU32(body, dii.tc_download_window);
    PutU32(body, dii.tc_download_scenario);
    PutU16(body, static_cast<uint32_t>(dii.compatibility_descriptor.size()));
    PutBytes(body, dii.compatibility_descriptor);
    PutU16(body, static_cast<uint32_t>(dii.modules.size()));
    for (const DiiModule& m : dii.modules) {
        if (m.module_info.size() > 255) {
            throw std::invalid_argument("moduleInfo too long");
        }
        PutU16(body, m.module_id);
        PutU32(body, m.module_size);
        PutU8(body, m.module_version);
        PutU8(body, static_cast<uint32_t>(m.module_info.size()));
        PutBytes(body, m.module_info);
    }
    PutU16(body, static_cast<uint32_t>(dii.private_data.size()));
    PutBytes(body, dii.private_data);

    std::vector<uint8_t> message;
    PutDownloadMessageHeader(message, 0x1002, dii.transaction_id, dii.adaptation, body.size());
    PutBytes(message, body);
    return message;
}

std::vector<uint8_t> DiiSection(const Dii& dii, uint8_t version) {
    LongSection fields;
    fields.table_id = 0x3B;
    fields.table_id_extension = static_cast<uint16_t>(dii.transaction_id);
    fields.version = version;
    return MakeSection(fields, DiiMessage(dii));
}

std::vector<uint8_t> TypeDescriptor(std::string_view content_type) {
    return Descriptor(0x01, std::span(reinterpret_cast<const uint8_t*>(content_type.data()),
                                      content_type.size()));
}

std::vector<uint8_t> CompressionTypeDescriptor(uint8_t compression_type, uint32_t original_size) {
    std::vector<uint8_t> body;
    PutU8(body, compression_type);
    PutU32(body, original_size);
    return Descriptor(0xC2, body);
}

}  // namespace tavrel::sim
