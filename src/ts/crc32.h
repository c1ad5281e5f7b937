#pragma once

#include <cstdint>
#include <span>

namespace tavrel {

// CRC-32/MPEG-2: polynomial 0x04C11DB7, MSB first, initial value 0xFFFFFFFF, no reflection,
// no final XOR. A PSI section including its CRC_32 field yields 0.
inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFF;

uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes);
inline uint32_t Crc32Mpeg2(std::span<const uint8_t> bytes) {
    return Crc32Update(kCrc32Initial, bytes);
}

}  // namespace tavrel
