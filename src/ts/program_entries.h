#pragma once

#include <cstdint>

namespace tavrel {

// One programme of the PAT, as raised with event 16.
struct ProgramEntry {
    uint16_t program_number;
    uint16_t pmt_pid;
};
static_assert(sizeof(ProgramEntry) == 4);

// One elementary stream of a PMT, as raised with event 17. Consumers read the first byte as
// the stream type and the 16-bit field as the PID; the second byte carries nothing.
struct StreamEntry {
    uint8_t stream_type;
    uint8_t unused;
    uint16_t elementary_pid;
};
static_assert(sizeof(StreamEntry) == 4);

}  // namespace tavrel
