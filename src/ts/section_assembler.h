#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "ts/packet_header.h"
#include "ts/section_buffer.h"
#include "ts/section_header.h"

namespace tavrel {

// The last section of a PID that its handler found to be a plain repeat (an unchanged
// version), with what the handler's answer depended on. Tables are repeated many times a
// second; a byte-identical section under an unchanged `epoch` would pass the CRC and be
// ignored by the handler again, so both can be skipped.
struct RepeatMemo {
    uint64_t epoch = 0;
    uint8_t handler = 0;
    uint32_t length = 0;
    std::array<uint8_t, SectionBuffer::kLimit> bytes;
};

// Per-PID assembly state.
struct SectionAssembly {
    uint32_t collecting = 0;  // 0: ignore payload until the next unit start
    SectionBuffer buffer;
    std::unique_ptr<RepeatMemo> repeat;  // allocated for PIDs whose tables repeat

    void Drop() {
        collecting = 0;
        buffer.Clear();
    }
    void Release() {
        Drop();
        buffer.Release();
        repeat.reset();
    }
};

// A table_id of 0xFF is stuffing: the rest of the packet's payload is filler, and the next
// section starts at a unit start.
inline constexpr uint8_t kStuffingTableId = 0xFF;

// Handlers receive a complete, CRC-checked section at the front of the buffer. They consume
// exactly its TotalLength() bytes and return 1, or return 0 when fewer are there. A handler
// may also offer KnownRepeat(section, bytes): true when the complete section `bytes` is one it
// would ignore anyway; the section is then consumed without the CRC test.
//
// Multiplexers pack sections back to back, so every complete section that the buffer holds
// is handed over, in order, until an incomplete one (it waits for more payload) or stuffing
// (dropped with the rest of the unit). A CRC failure drops everything buffered, and the PID
// waits for its next unit start.
template <typename Handler>
void CompleteSections(SectionAssembly& assembly, const PacketHeader& header, Handler&& handler) {
    SectionBuffer& buffer = assembly.buffer;
    while (buffer.Held() > 0) {
        if (buffer.Data()[0] == kStuffingTableId) {
            assembly.Drop();
            return;
        }
        if (buffer.Held() < 3) {
            return;
        }
        const uint32_t peek = std::min<uint32_t>(8, buffer.Held());
        const SectionHeader section =
            ParseSectionHeader(std::span<const uint8_t>(buffer.Data(), peek));
        if (buffer.Held() < section.TotalLength()) {
            return;
        }
        if constexpr (requires { handler.KnownRepeat(section, std::span<const uint8_t>()); }) {
            if (handler.KnownRepeat(
                    section, std::span<const uint8_t>(buffer.Data(), section.TotalLength()))) {
                buffer.Consume(section.TotalLength());
                continue;
            }
        }
        if (buffer.Crc(section.TotalLength()) != 0) {
            assembly.Drop();
            return;
        }
        if (handler(header, section, buffer) == 0) {
            return;  // it could not take the section; never loop on the same bytes
        }
    }
}

// The common case of a repeated table: one whole section at the start of a unit, followed only
// by stuffing. When the handler knows the section as a repeat, the result of copying it into
// the buffer, checking its CRC and handing it over would be that nothing happens and the
// stuffing is dropped; anything else whose length field runs past the buffer can never
// complete, which is the same as waiting for the next unit start. So nothing is copied.
// Sections packed behind the first one have lengths that fit, and take the long way.
template <typename Handler>
bool SkipKnownRepeat(SectionAssembly& assembly, std::span<const uint8_t> data, Handler& handler) {
    if (data.size() < 3) {
        return false;
    }
    const SectionHeader section = ParseSectionHeader(data.first(std::min<size_t>(8, data.size())));
    const size_t total = section.TotalLength();
    if (total + 3 > data.size()) {
        return false;
    }
    const std::span<const uint8_t> rest = data.subspan(total);
    const size_t rest_total = ((size_t{rest[1]} & 0x0F) << 8 | rest[2]) + 3;
    if (rest_total <= SectionBuffer::kLimit || !handler.KnownRepeat(section, data.first(total))) {
        return false;
    }
    assembly.collecting = 0;
    return true;
}

// Feeds the 184 payload bytes of one packet (everything after the 4-byte header) to the
// PID's assembly: the bytes that end the section in progress, then those of the sections that
// start in this packet, each time handing over what is complete.
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
                CompleteSections(assembly, header, handler);
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
        if constexpr (requires { handler.KnownRepeat(SectionHeader(), payload); }) {
            if (SkipKnownRepeat(assembly, payload.subspan(start, size), handler)) {
                return;
            }
        }
    }
    if (!assembly.collecting) {
        return;
    }
    assembly.buffer.Write(payload.data() + start, static_cast<uint32_t>(size));
    CompleteSections(assembly, header, handler);
}

}  // namespace tavrel
