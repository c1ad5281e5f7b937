#include "sim/png_writer.h"

#include <zlib.h>

#include <stdexcept>

#include "sim/section_writer.h"

namespace tavrel::sim {
namespace {

void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data) {
    PutU32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(type[i]));
    }
    PutBytes(out, data);
    // The chunk CRC covers type and data.
    const uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    PutU32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> PngImage(uint32_t width, uint32_t height, std::span<const uint8_t> rgb) {
    const size_t row = size_t{width} * 3;
    if (width == 0 || height == 0 || rgb.size() != row * height) {
        throw std::invalid_argument("image size does not match its pixels");
    }
    std::vector<uint8_t> raw;
    raw.reserve((row + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // filter type None
        const auto line = rgb.subspan(y * row, row);
        raw.insert(raw.end(), line.begin(), line.end());
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9) !=
        Z_OK) {
        throw std::runtime_error("zlib could not compress the image");
    }
    packed.resize(packed_size);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutU32(header, width);
    PutU32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace tavrel::sim
