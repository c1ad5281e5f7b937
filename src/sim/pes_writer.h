#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

inline constexpr uint64_t kSystemClock = 27'000'000;  // PCR ticks per second
inline constexpr uint64_t kPtsClock = 90'000;         // PTS ticks per second

// A PES header with a PTS and nothing else: start code, stream_id, PES_packet_length (0 for
// an unbounded video packet), the flag bytes and the 5-byte PTS. 14 bytes.
std::vector<uint8_t> PesHeader(uint8_t stream_id, uint16_t pes_packet_length, uint64_t pts);
inline constexpr size_t kPesHeaderSize = 14;
inline constexpr size_t kPesPtsOffset = 9;  // where the PTS field starts in that header

// The 5-byte PTS field ('0010' prefix, marker bits) of a 33-bit 90 kHz value.
void WritePts(std::span<uint8_t, 5> out, uint64_t pts);
// The 6-byte program_clock_reference of a 27 MHz count: 33-bit base, 6 reserved bits and the
// 9-bit extension.
void WritePcr(std::span<uint8_t, 6> out, uint64_t pcr27);
// Reads such a field back.
uint64_t ReadPcr(std::span<const uint8_t, 6> in);

}  // namespace tavrel::sim
