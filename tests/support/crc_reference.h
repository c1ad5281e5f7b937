#pragma once

#include <cstdint>
#include <span>

namespace tavrel::testing {

// CRC-32/MPEG-2 computed bit by bit from the polynomial, independent of the table-driven
// code under test.
inline uint32_t ReferenceCrc32(std::span<const uint8_t> bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (const uint8_t b : bytes) {
        crc ^= uint32_t{b} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

}  // namespace tavrel::testing
