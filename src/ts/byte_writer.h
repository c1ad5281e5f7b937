#pragma once

#include <cstdint>
#include <vector>

namespace tavrel {

// Appends little-endian integers to a byte vector: the counterpart of ByteReader's U16LE and
// U32LE for USB descriptors and driver request headers.
inline void PutU16LE(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutU32LE(std::vector<uint8_t>& out, uint32_t v) {
    PutU16LE(out, v & 0xFFFF);
    PutU16LE(out, v >> 16);
}

}  // namespace tavrel
