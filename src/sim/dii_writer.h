#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tavrel::sim {

// One module of a DownloadInfoIndication.
struct DiiModule {
    uint16_t module_id = 0;
    uint32_t module_size = 0;
    uint8_t module_version = 0;
    std::vector<uint8_t> module_info;  // descriptors, back to back
};

// The fields of a DownloadInfoIndication (ISO/IEC 13818-6) as a data carousel sends it.
struct Dii {
    uint32_t transaction_id = 0x80000002;
    uint32_t download_id = 0;
    uint16_t block_size = 4066;  // the most a DDB section holds
    uint8_t window_size = 0;
    uint8_t ack_period = 0;
    uint32_t tc_download_window = 0;
    uint32_t tc_download_scenario = 0;
    std::vector<uint8_t> compatibility_descriptor;  // written as is behind its length
    std::vector<uint8_t> adaptation;                // dsmccAdaptationHeader, usually none
    std::vector<DiiModule> modules;
    std::vector<uint8_t> private_data;
};

// The DSM-CC message header of the download messages (transactionId or downloadId in id),
// followed by the adaptation header; messageLength counts everything after the first 12
// bytes, the adaptation header included.
void PutDownloadMessageHeader(std::vector<uint8_t>& out, uint16_t message_id, uint32_t id,
                              std::span<const uint8_t> adaptation, size_t body_length);

// The DSM-CC message: header (messageId 0x1002) and body.
std::vector<uint8_t> DiiMessage(const Dii& dii);
// The message in a long-form section of table 0x3B; table_id_extension is the low half of the
// transactionId, as the standard has it.
std::vector<uint8_t> DiiSection(const Dii& dii, uint8_t version = 0);

// Module descriptors of the data carousel.
std::vector<uint8_t> TypeDescriptor(std::string_view content_type);  // tag 0x01
std::vector<uint8_t> CompressionTypeDescriptor(uint8_t compression_type,
                                               uint32_t original_size);  // tag 0xC2

}  // namespace tavrel::sim
