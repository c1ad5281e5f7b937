#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "ts/packet_header.h"
#include "ts/section_buffer.h"
#include "ts/section_header.h"

namespace tavrel {

// Per-PID assembly state.
struct SectionAssembly {
    uint32_t collecting = 0;  // 0: ignore payload until the next unit start
    SectionBuffer buffer;

    void Drop() {
        collecting = 0;
        buffer.Clear();
    }
};

// Handlers receive a complete, CRC-checked section at the front of the buffer. They consume
// exactly its TotalLength() bytes and return 1, or return 0 when fewer are there.
template <typename Handler>
void CompleteSection(SectionAssembly& assembly, const PacketHeader& header, Handler&& handler) {
    SectionBuffer& buffer = assembly.buffer;
    if (buffer.Held() < 3) {
        return;
    }
    const uint32_t peek = std::min<uint32_t>(8, buffer.Held());
    const SectionHeader section = ParseSectionHeader(std::span<const uint8_t>(buffer.Data(), peek));
    if (buffer.Held() < section.TotalLength()) {
        return;
    }
    if (buffer.Crc(section.TotalLength()) != 0) {
        assembly.Drop();
        return;
    }
    handler(header, section, buffer);
}

// Feeds the 184 payload bytes of one packet (everything after the 4-byte header) to the
// PID's assembly, completing at most one section per attempt.
//
// Corrupt input: an adaptation field longer than the payload, or a pointer_field that points
// past the end of the payload, makes the whole packet unusable. Nothing is read beyond the
// payload; the section in progress is dropped and the PID waits for its next unit start.
template <typename Handler>
void Assemble(SectionAssembly& assembly, const PacketHeader& header,
              std::span<const uint8_t, kTsPayloadSize> payload, Handler&& handler) {
    size_t start = 0;
    size_t size = kTsPayloadSize;
    if (header.adaptation_field_control & 2) {
        const size_t adaptation_length = payload[0];
        if (adaptation_length > kTsPayloadSize - 1) {
            assembly.Drop();
            return;
        }
        start = adaptation_length + 1;
        size = kTsPayloadSize - 1 - adaptation_length;
    }
    if (header.payload_unit_start_indicator) {
        if (size == 0) {
            assembly.Drop();  // a unit start without the pointer_field it promises
            return;
        }
        const size_t pointer = payload[start];
        ++start;
        --size;
        if (pointer > size) {
            assembly.Drop();
            return;
        }
        if (pointer > 0) {
            if (assembly.collecting) {
                assembly.buffer.Write(payload.data() + start, static_cast<uint32_t>(pointer));
                CompleteSection(assembly, header, handler);
            }
            start += pointer;
            size -= pointer;
        }
    }
    if (size == 0) {
        return;
    }
    if (header.payload_unit_start_indicator) {
        assembly.collecting = 1;
        assembly.buffer.Clear();
    }
    if (!assembly.collecting) {
        return;
    }
    assembly.buffer.Write(payload.data() + start, static_cast<uint32_t>(size));
    CompleteSection(assembly, header, handler);
}

}  // namespace tavrel
