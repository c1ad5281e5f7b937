#include "sim/ddb_writer.h"

#include <algorithm>
#include <stdexcept>

#include "sim/dii_writer.h"
#include "sim/section_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> DdbMessage(const Ddb& ddb) {
    std::vector<uint8_t> message;
    PutDownloadMessageHeader(message, 0x1003, ddb.download_id, ddb.adaptation,
                             6 + ddb.block.size());
    PutU16(message, ddb.module_id);
    PutU8(message, ddb.module_version);
    PutU8(message, 0xFF);  // reserved
    PutU16(message, ddb.block_number);
    PutBytes(message, ddb.block);
    return message;
}

std::vector<uint8_t> DdbSection(const Ddb& ddb) {
    LongSection fields;
    fields.table_id = 0x3C;
    fields.table_id_extension = ddb.module_id;
    fields.version = ddb.module_version;
    fields.section_number = static_cast<uint8_t>(ddb.block_number);
    fields.last_section_number = ddb.last_section_number;
    return MakeSection(fields, DdbMessage(ddb));
}

std::vector<std::vector<uint8_t>> ModuleDdbSections(uint32_t download_id, uint16_t module_id,
                                                    uint8_t module_version, uint16_t block_size,
                                                    std::span<const uint8_t> module) {
    if (block_size == 0) {
        throw std::invalid_argument("block size 0");
    }
    std::vector<std::vector<uint8_t>> sections;
    const size_t last = module.empty() ? 0 : (module.size() - 1) / block_size;
    for (size_t offset = 0, number = 0; offset < module.size(); offset += block_size, ++number) {
        Ddb ddb;
        ddb.download_id = download_id;
        ddb.module_id = module_id;
        ddb.module_version = module_version;
        ddb.block_number = static_cast<uint16_t>(number);
        ddb.last_section_number = static_cast<uint8_t>(last);
        const auto block =
            module.subspan(offset, std::min<size_t>(block_size, module.size() - offset));
        ddb.block.assign(block.begin(), block.end());
        sections.push_back(DdbSection(ddb));
    }
    return sections;
}

}  // namespace tavrel::sim
