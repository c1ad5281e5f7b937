#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

// The fields of one DownloadDataBlock (ISO/IEC 13818-6).
struct Ddb {
    uint32_t download_id = 0;
    uint16_t module_id = 0;
    uint8_t module_version = 0;
    uint16_t block_number = 0;
    uint8_t last_section_number = 0;  // of the module's last block, mod 256
    std::vector<uint8_t> block;
    std::vector<uint8_t> adaptation;  // dsmccAdaptationHeader, usually none
};

// The DSM-CC message: header (messageId 0x1003), module id, version, block number, data.
std::vector<uint8_t> DdbMessage(const Ddb& ddb);
// The message in a long-form section of table 0x3C: table_id_extension is the module id, the
// version the module version (mod 32), the section number the block number (mod 256).
std::vector<uint8_t> DdbSection(const Ddb& ddb);

// Every block of a module, in block order, each in its own section.
std::vector<std::vector<uint8_t>> ModuleDdbSections(uint32_t download_id, uint16_t module_id,
                                                    uint8_t module_version, uint16_t block_size,
                                                    std::span<const uint8_t> module);

}  // namespace tavrel::sim
