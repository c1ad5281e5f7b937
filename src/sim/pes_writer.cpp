#include "sim/pes_writer.h"

#include <algorithm>

namespace tavrel::sim {

std::vector<uint8_t> PesHeader(uint8_t stream_id, uint16_t pes_packet_length, uint64_t pts) {
    std::vector<uint8_t> h = {0x00,
                              0x00,
                              0x01,
                              stream_id,
                              static_cast<uint8_t>(pes_packet_length >> 8),
                              static_cast<uint8_t>(pes_packet_length),
                              0x80,  // '10', not scrambled, no priority or copyright flags
                              0x80,  // PTS only
                              0x05};
    h.resize(kPesHeaderSize);
    WritePts(std::span<uint8_t, 5>(h.data() + kPesPtsOffset, 5), pts);
    return h;
}

void WritePts(std::span<uint8_t, 5> out, uint64_t pts) {
    pts &= (uint64_t{1} << 33) - 1;
    out[0] = static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E));
    out[1] = static_cast<uint8_t>(pts >> 22);
    out[2] = static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1);
    out[3] = static_cast<uint8_t>(pts >> 7);
    out[4] = static_cast<uint8_t>(((pts << 1) & 0xFE) | 1);
}

void WritePcr(std::span<uint8_t, 6> out, uint64_t pcr27) {
    const uint64_t base = (pcr27 / 300) & ((uint64_t{1} << 33) - 1);
    const uint32_t extension = static_cast<uint32_t>(pcr27 % 300);
    out[0] = static_cast<uint8_t>(base >> 25);
    out[1] = static_cast<uint8_t>(base >> 17);
    out[2] = static_cast<uint8_t>(base >> 9);
    out[3] = static_cast<uint8_t>(base >> 1);
    out[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
    out[5] = static_cast<uint8_t>(extension);
}

uint64_t ReadPcr(std::span<const uint8_t, 6> in) {
    const uint64_t base = uint64_t{in[0]} << 25 | uint64_t{in[1]} << 17 | uint64_t{in[2]} << 9 |
                          uint64_t{in[3]} << 1 | in[4] >> 7;
    const uint64_t extension = (uint64_t{in[4]} & 1) << 8 | in[5];
    return base * 300 + extension;
}

}  // namespace tavrel::sim
