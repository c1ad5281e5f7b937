#include "support/stream_builder.h"

namespace tavrel::testing {

StreamBuilder::StreamBuilder() {
    for (int i = 0; i < 3; ++i) {
        sim::PacketSpec fields;
        fields.pid = 0x1FFF;
        packets_.push_back(sim::MakePacket(fields, {}));
    }
}

StreamBuilder& StreamBuilder::Section(uint16_t pid, std::span<const uint8_t> section) {
    return Sections(pid, {std::vector<uint8_t>(section.begin(), section.end())});
}

StreamBuilder& StreamBuilder::Sections(uint16_t pid,
                                       const std::vector<std::vector<uint8_t>>& sections) {
    sim::SectionPacketizer packetizer(pid, counters_[pid]);
    for (auto& p : packetizer.PutAll(sections)) {
        packets_.push_back(std::move(p));
    }
    counters_[pid] = packetizer.NextCounter();
    return *this;
}

StreamBuilder& StreamBuilder::Packet(std::vector<uint8_t> packet) {
    packets_.push_back(std::move(packet));
    return *this;
}

StreamBuilder& StreamBuilder::RawPayload(uint16_t pid, bool unit_start,
                                         std::span<const uint8_t> payload) {
    sim::PacketSpec fields;
    fields.pid = pid;
    fields.payload_unit_start = unit_start;
    fields.continuity_counter = NextCounter(pid);
    packets_.push_back(sim::MakePacket(fields, payload, 0xFF));
    return *this;
}

std::vector<uint8_t> StreamBuilder::Bytes() const {
    std::vector<uint8_t> bytes;
    sim::AppendUnits(bytes, packets_, 188);
    return bytes;
}

}  // namespace tavrel::testing
