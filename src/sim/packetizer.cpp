#include "sim/packetizer.h"

#include <algorithm>
#include <stdexcept>

namespace tavrel::sim {

std::vector<uint8_t> MakePacket(const PacketSpec& fields, std::span<const uint8_t> payload,
                                uint8_t fill) {
    std::vector<uint8_t> p(188, fill);
    const bool has_adaptation = fields.adaptation_length >= 0;
    p[0] = 0x47;
    p[1] =
        static_cast<uint8_t>((fields.transport_error ? 0x80 : 0) |
                             (fields.payload_unit_start ? 0x40 : 0) | ((fields.pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(fields.pid);
    p[3] = static_cast<uint8_t>((fields.scrambling & 3) << 6 | (has_adaptation ? 0x20 : 0) |
                                (fields.payload ? 0x10 : 0) | (fields.continuity_counter & 0x0F));
    size_t pos = 4;
    if (has_adaptation) {
        const int length = fields.adaptation_length;
        if (length > 183) {
            throw std::invalid_argument("adaptation field longer than the packet");
        }
        p[pos] = static_cast<uint8_t>(length);
        if (length > 0) {
            std::fill(p.begin() + 5, p.begin() + 5 + length, 0xFF);
            p[5] = fields.pcr ? 0x10 : 0x00;
            if (fields.pcr && length >= 7) {
                const uint64_t base = fields.pcr_base & ((uint64_t{1} << 33) - 1);
                p[6] = static_cast<uint8_t>(base >> 25);
                p[7] = static_cast<uint8_t>(base >> 17);
                p[8] = static_cast<uint8_t>(base >> 9);
                p[9] = static_cast<uint8_t>(base >> 1);
                p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E);
                p[11] = 0;
            }
        }
        pos += 1 + static_cast<size_t>(length);
    }
    if (payload.size() > 188 - pos) {
        throw std::invalid_argument("payload does not fit into the packet");
    }
    std::copy(payload.begin(), payload.end(), p.begin() + static_cast<long>(pos));
    return p;
}

std::vector<std::vector<uint8_t>> SectionPacketizer::Put(std::span<const uint8_t> section) {
    const std::vector<uint8_t> one(section.begin(), section.end());
    return PutAll(std::span<const std::vector<uint8_t>>(&one, 1));
}

std::vector<std::vector<uint8_t>> SectionPacketizer::PutAll(
    std::span<const std::vector<uint8_t>> sections) {
    std::vector<uint8_t> run;
    std::vector<size_t> starts;  // where each section begins in run
    for (const auto& s : sections) {
        starts.push_back(run.size());
        run.insert(run.end(), s.begin(), s.end());
    }
    std::vector<std::vector<uint8_t>> packets;
    auto next = starts.begin();
    size_t pos = 0;
    while (pos < run.size()) {
        while (next != starts.end() && *next < pos) {
            ++next;
        }
        PacketSpec fields;
        fields.pid = pid_;
        fields.continuity_counter = counter_;
        std::vector<uint8_t> payload;
        size_t take = 0;
        if (next != starts.end() && *next - pos < 183) {
            // A section starts in this packet: a unit start whose pointer_field finds it.
            fields.payload_unit_start = true;
            payload.push_back(static_cast<uint8_t>(*next - pos));
            take = std::min<size_t>(183, run.size() - pos);
        } else {
            // Only a unit start may begin a section: one that would begin in the last byte
            // waits for the next packet behind a stuffing byte.
            const size_t limit = next != starts.end() ? *next - pos : 184;
            take = std::min({size_t{184}, limit, run.size() - pos});
        }
        payload.insert(payload.end(), run.begin() + static_cast<std::ptrdiff_t>(pos),
                       run.begin() + static_cast<std::ptrdiff_t>(pos + take));
        packets.push_back(MakePacket(fields, payload, 0xFF));
        counter_ = (counter_ + 1) & 0x0F;
        pos += take;
    }
    return packets;
}

std::vector<uint8_t> ToUnit(std::span<const uint8_t> packet, uint32_t unit_length,
                            uint32_t timestamp) {
    std::vector<uint8_t> unit;
    unit.reserve(unit_length);
    if (unit_length == 192) {
        const uint32_t ts = timestamp & 0x3FFFFFFF;
        unit.push_back(static_cast<uint8_t>(ts >> 24));
        unit.push_back(static_cast<uint8_t>(ts >> 16));
        unit.push_back(static_cast<uint8_t>(ts >> 8));
        unit.push_back(static_cast<uint8_t>(ts));
    }
    unit.insert(unit.end(), packet.begin(), packet.end());
    if (unit_length == 204) {
        unit.insert(unit.end(), 16, 0x00);
    }
    return unit;
}

void AppendUnits(std::vector<uint8_t>& stream, std::span<const std::vector<uint8_t>> packets,
                 uint32_t unit_length) {
    uint32_t timestamp = 0;
    for (const auto& packet : packets) {
        const auto unit = ToUnit(packet, unit_length, timestamp);
        stream.insert(stream.end(), unit.begin(), unit.end());
        timestamp += 1000;
    }
}

}  // namespace tavrel::sim
