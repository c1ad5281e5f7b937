#pragma once

#include <cstdint>
#include <string>

namespace tavrel {

// Three-letter name of a stream type as the service window shows it ("m2v", "aac", ...);
// "???" for types it does not know.
const char* StreamTypeName(uint8_t stream_type);

// One stream of a programme as the service window lists it: "0x%04X(%3s) ".
std::string FormatStream(uint8_t stream_type, uint16_t pid);

}  // namespace tavrel
