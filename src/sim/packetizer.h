#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

// Fields of one 188-byte transport packet to write.
struct PacketSpec {
    uint16_t pid = 0;
    uint8_t continuity_counter = 0;
    bool payload_unit_start = false;
    uint8_t scrambling = 0;  // transport_scrambling_control
    bool transport_error = false;
    // An adaptation field is written when this is >= 0: its adaptation_field_length.
    // It is filled with stuffing bytes (0xFF) after a flags byte of 0, or carries a PCR.
    int adaptation_length = -1;
    bool pcr = false;
    uint64_t pcr_base = 0;  // 33 bits, 90 kHz
    bool payload = true;    // adaptation_field_control bit 0
};

// One 188-byte packet. The payload is copied after the header (and adaptation field); the
// rest of the packet is filled with `fill` (0xFF is PSI stuffing).
std::vector<uint8_t> MakePacket(const PacketSpec& fields, std::span<const uint8_t> payload,
                                uint8_t fill = 0xFF);

// Cuts PSI sections into packets of one PID, with pointer_field, continuity counters and
// 0xFF stuffing. Each Put starts a new payload unit, like most multiplexers do.
class SectionPacketizer {
public:
    explicit SectionPacketizer(uint16_t pid, uint8_t first_counter = 0)
        : pid_(pid), counter_(first_counter & 0x0F) {}

    std::vector<std::vector<uint8_t>> Put(std::span<const uint8_t> section);
    // Several sections packed back to back as multiplexers do: every packet in which a
    // section begins is a unit start whose pointer_field points at the first of them.
    std::vector<std::vector<uint8_t>> PutAll(std::span<const std::vector<uint8_t>> sections);

    uint8_t NextCounter() const { return counter_; }

private:
    uint16_t pid_;
    uint8_t counter_;
};

// A 188-byte packet as a unit of the given length: 192-byte units carry a 4-byte prefix (an
// arrival timestamp) in front of the packet, 204-byte units 16 trailing parity bytes.
std::vector<uint8_t> ToUnit(std::span<const uint8_t> packet, uint32_t unit_length,
                            uint32_t timestamp = 0);

// Appends the units of `packets` to a byte stream.
void AppendUnits(std::vector<uint8_t>& stream, std::span<const std::vector<uint8_t>> packets,
                 uint32_t unit_length = 188);

}  // namespace tavrel::sim
