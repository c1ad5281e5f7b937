#include "ts/version_table.h"

namespace tavrel {

bool VersionTable::IsNewVersion(uint16_t table_id_extension, uint8_t table_id,
                                uint8_t section_number, uint16_t version) {
    const auto [it, inserted] =
        versions_.try_emplace(Key(table_id_extension, table_id, section_number), version);
    if (inserted) {
        ++epoch_;
        return true;
    }
    if (it->second == version) {
        return false;
    }
    it->second = version;
    ++epoch_;
    return true;
}

}  // namespace tavrel
