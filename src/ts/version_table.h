#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace tavrel {

// The last version seen of every table section, so handlers skip repeats. The key leaves out
// the PID and the network and stream ids: a new transport stream empties the table instead.
class VersionTable {
public:
    static uint32_t Key(uint16_t table_id_extension, uint8_t table_id, uint8_t section_number) {
        return (uint32_t{table_id_extension} << 16) | (uint32_t{table_id} << 8) | section_number;
    }

    // True (and remembered) when the section is new or its version changed.
    bool IsNewVersion(uint16_t table_id_extension, uint8_t table_id, uint8_t section_number,
                      uint16_t version);
    void Clear() {
        versions_.clear();
        ++epoch_;
    }
    size_t Size() const { return versions_.size(); }
    // Changes whenever any stored version changes: while it stays the same, every
    // IsNewVersion question gets the same answer as before.
    uint64_t Epoch() const { return epoch_; }

private:
    std::map<uint32_t, uint16_t> versions_;
    uint64_t epoch_ = 0;
};

}  // namespace tavrel
