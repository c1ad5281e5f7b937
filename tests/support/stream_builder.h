#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "sim/packetizer.h"

namespace tavrel::testing {

// Builds a packet stream for a test: sections are packetized per PID with running
// continuity counters. The stream starts with three null packets so that the grid is found
// at once and every following unit is processed as soon as it is fed.
class StreamBuilder {
public:
    StreamBuilder();

    StreamBuilder& Section(uint16_t pid, std::span<const uint8_t> section);
    StreamBuilder& Sections(uint16_t pid, const std::vector<std::vector<uint8_t>>& sections);
    StreamBuilder& Packet(std::vector<uint8_t> packet);
    // A packet whose payload (after the 4-byte header) is given as is, for hand-made cases.
    StreamBuilder& RawPayload(uint16_t pid, bool unit_start, std::span<const uint8_t> payload);

    const std::vector<std::vector<uint8_t>>& Packets() const { return packets_; }
    std::vector<uint8_t> Bytes() const;

private:
    uint8_t NextCounter(uint16_t pid) { return counters_[pid]++ & 0x0F; }

    std::map<uint16_t, uint8_t> counters_;
    std::vector<std::vector<uint8_t>> packets_;
};

}  // namespace tavrel::testing
