#include "ts/crc32.h"

#include <array>

namespace tavrel {
namespace {

using Table = std::array<uint32_t, 256>;

// kTables[0] is the classic byte table; kTables[k] advances a byte by k more zero bytes, so
// eight bytes fold in with eight independent lookups instead of a chain of eight.
constexpr std::array<Table, 8> MakeTables() {
    std::array<Table, 8> tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        }
        tables[0][i] = c;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = tables[k - 1][i];
            tables[k][i] = (prev << 8) ^ tables[0][prev >> 24];
        }
    }
    return tables;
}

constexpr std::array<Table, 8> kTables = MakeTables();

uint32_t LoadBe32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes) {
    const auto& t = kTables;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const uint32_t one = crc ^ LoadBe32(bytes.data() + i);
        const uint32_t two = LoadBe32(bytes.data() + i + 4);
        crc = t[7][one >> 24] ^ t[6][(one >> 16) & 0xFF] ^ t[5][(one >> 8) & 0xFF] ^
              t[4][one & 0xFF] ^ t[3][two >> 24] ^ t[2][(two >> 16) & 0xFF] ^
              t[1][(two >> 8) & 0xFF] ^ t[0][two & 0xFF];
    }
    for (; i < bytes.size(); ++i) {
        crc = (crc << 8) ^ t[0][((crc >> 24) ^ bytes[i]) & 0xFF];
    }
    return crc;
}

}  // namespace tavrel
