#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

// A PNG file of an 8-bit RGB image (rows of width × 3 bytes, top row first): signature,
// IHDR, one zlib-compressed IDAT with filter type 0 on every row, IEND.
std::vector<uint8_t> PngImage(uint32_t width, uint32_t height, std::span<const uint8_t> rgb);

}  // namespace tavrel::sim
