#pragma once

#include <cstdint>

namespace tavrel {

inline constexpr uint8_t kSyncByte = 0x47;
inline constexpr uint16_t kNullPid = 0x1FFF;
inline constexpr uint32_t kTsPacketSize = 188;
inline constexpr uint32_t kTsPayloadSize = 184;

// The 4-byte transport packet header, fields named as in ISO/IEC 13818-1.
struct PacketHeader {
    uint8_t sync_byte = 0;
    uint8_t transport_error_indicator = 0;
    uint8_t payload_unit_start_indicator = 0;
    uint8_t transport_priority = 0;
    uint16_t pid = 0;
    uint8_t transport_scrambling_control = 0;
    uint8_t adaptation_field_control = 0;
    uint8_t continuity_counter = 0;
};

// Reads bytes 0 to 3 of a unit; the caller guarantees at least 4 bytes.
inline PacketHeader ParsePacketHeader(const uint8_t* unit) {
    PacketHeader h;
    h.sync_byte = unit[0];
    h.transport_error_indicator = (unit[1] >> 7) & 1;
    h.payload_unit_start_indicator = (unit[1] >> 6) & 1;
    h.transport_priority = (unit[1] >> 5) & 1;
    h.pid = static_cast<uint16_t>(((unit[1] & 0x1F) << 8) | unit[2]);
    h.transport_scrambling_control = (unit[3] >> 6) & 3;
    h.adaptation_field_control = (unit[3] >> 4) & 3;
    h.continuity_counter = unit[3] & 0x0F;
    return h;
}

}  // namespace tavrel
