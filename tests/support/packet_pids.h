#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace tavrel::testing {

// The PIDs of a run of 188-byte packets, each of which must start with its sync byte.
inline std::set<uint16_t> PacketPids(const std::vector<uint8_t>& units) {
    std::set<uint16_t> pids;
    for (size_t at = 0; at + 188 <= units.size(); at += 188) {
        EXPECT_EQ(units[at], 0x47) << "packet at byte " << at;
        pids.insert(static_cast<uint16_t>((units[at + 1] & 0x1F) << 8 | units[at + 2]));
    }
    return pids;
}

}  // namespace tavrel::testing
