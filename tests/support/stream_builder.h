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
    StreamBuilder() : packets_(3, sim::MakePacket({.pid = 0x1FFF}, {})) {}

    StreamBuilder& Section(uint16_t pid, std::span<const uint8_t> section) {
        return Sections(pid, {std::vector<uint8_t>(section.begin(), section.end())});
    }
    StreamBuilder& Sections(uint16_t pid, const std::vector<std::vector<uint8_t>>& sections) {
        sim::SectionPacketizer packetizer(pid, counters_[pid]);
        for (auto& p : packetizer.PutAll(sections)) {
            packets_.push_back(std::move(p));
        }
        counters_[pid] = packetizer.NextCounter();
        return *this;
    }
    StreamBuilder& Packet(std::vector<uint8_t> packet) {
        packets_.push_back(std::move(packet));
        return *this;
    }
    // A packet whose payload (after the 4-byte header) is given as is, for hand-made cases.
    StreamBuilder& RawPayload(uint16_t pid, bool unit_start, std::span<const uint8_t> payload) {
        const sim::PacketSpec fields{
            .pid = pid,
            .continuity_counter = static_cast<uint8_t>(counters_[pid]++ & 0x0F),
            .payload_unit_start = unit_start};
        return Packet(sim::MakePacket(fields, payload, 0xFF));
    }

    const std::vector<std::vector<uint8_t>>& Packets() const { return packets_; }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes;
        sim::AppendUnits(bytes, packets_, 188);
        return bytes;
    }

private:
    std::map<uint16_t, uint8_t> counters_;
    std::vector<std::vector<uint8_t>> packets_;
};

}  // namespace tavrel::testing
