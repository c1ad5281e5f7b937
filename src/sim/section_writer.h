#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrel::sim {

// Fields of a long-form (syntax indicator 1) section.
struct LongSection {
    uint8_t table_id = 0;
    uint16_t table_id_extension = 0;
    uint8_t version = 0;
    bool current_next = true;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;
    bool private_indicator = false;  // bit 6 of byte 1: 0 for PSI, 1 for most SI tables
};

// A complete long-form section: header, body and the CRC_32 computed over both.
std::vector<uint8_t> MakeSection(const LongSection& fields, std::span<const uint8_t> body);

// A short-form (syntax indicator 0) section; with_crc appends a CRC_32 as a TOT has.
std::vector<uint8_t> MakeShortSection(uint8_t table_id, std::span<const uint8_t> body,
                                      bool with_crc, bool private_indicator = true);

// One descriptor: tag, length, body.
std::vector<uint8_t> Descriptor(uint8_t tag, std::span<const uint8_t> body);

// Appends big-endian integers to a byte vector.
void PutU8(std::vector<uint8_t>& out, uint32_t v);
void PutU16(std::vector<uint8_t>& out, uint32_t v);
void PutU24(std::vector<uint8_t>& out, uint32_t v);
void PutU32(std::vector<uint8_t>& out, uint32_t v);
void PutBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
// Bytes behind a one-byte length, as descriptors carry names and texts.
void PutLengthPrefixed(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);

// Recomputes the CRC_32 at the end of a section in place (after a test edits it).
void FixCrc(std::vector<uint8_t>& section);

}  // namespace tavrel::sim
