#include "sim/section_writer.h"

#include <cstring>
#include <stdexcept>

#include "ts/crc32.h"

namespace tavrel::sim {

void PutU8(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
}

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutU24(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 16));
    PutU16(out, v);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v >> 16);
    PutU16(out, v);
}

void PutBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    // Grow, then copy: g++ 12 sees impossible overlaps in an inlined range insert at -O2.
    const size_t at = out.size();
    out.resize(at + bytes.size());
    if (!bytes.empty()) {
        std::memcpy(out.data() + at, bytes.data(), bytes.size());
    }
}

void PutLengthPrefixed(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    if (bytes.size() > 255) {
        throw std::invalid_argument("too long for a one-byte length");
    }
    PutU8(out, static_cast<uint32_t>(bytes.size()));
    PutBytes(out, bytes);
}

void FixCrc(std::vector<uint8_t>& section) {
    if (section.size() < 4) {
        throw std::invalid_argument("section shorter than its CRC");
    }
    const size_t n = section.size() - 4;
    const uint32_t crc = Crc32Mpeg2(std::span<const uint8_t>(section.data(), n));
    section[n] = static_cast<uint8_t>(crc >> 24);
    section[n + 1] = static_cast<uint8_t>(crc >> 16);
    section[n + 2] = static_cast<uint8_t>(crc >> 8);
    section[n + 3] = static_cast<uint8_t>(crc);
}

std::vector<uint8_t> MakeSection(const LongSection& f, std::span<const uint8_t> body) {
    const size_t section_length = 5 + body.size() + 4;
    if (section_length > 4093) {
        throw std::invalid_argument("section body too long");
    }
    std::vector<uint8_t> s;
    s.reserve(3 + section_length);
    PutU8(s, f.table_id);
    PutU16(s, 0x8000 | (f.private_indicator ? 0x4000 : 0) | 0x3000 | section_length);
    PutU16(s, f.table_id_extension);
    PutU8(s, 0xC0 | ((f.version & 0x1F) << 1) | (f.current_next ? 1 : 0));
    PutU8(s, f.section_number);
    PutU8(s, f.last_section_number);
    PutBytes(s, body);
    PutU32(s, 0);
    FixCrc(s);
    return s;
}

std::vector<uint8_t> MakeShortSection(uint8_t table_id, std::span<const uint8_t> body,
                                      bool with_crc, bool private_indicator) {
    const size_t section_length = body.size() + (with_crc ? 4 : 0);
    if (section_length > 4093) {
        throw std::invalid_argument("section body too long");
    }
    std::vector<uint8_t> s;
    PutU8(s, table_id);
    PutU16(s, (private_indicator ? 0x4000 : 0) | 0x3000 | section_length);
    PutBytes(s, body);
    if (with_crc) {
        PutU32(s, 0);
        FixCrc(s);
    }
    return s;
}

std::vector<uint8_t> Descriptor(uint8_t tag, std::span<const uint8_t> body) {
    if (body.size() > 255) {
        throw std::invalid_argument("descriptor body too long");
    }
    std::vector<uint8_t> d;
    PutU8(d, tag);
    PutU8(d, static_cast<uint32_t>(body.size()));
    PutBytes(d, body);
    return d;
}

}  // namespace tavrel::sim
