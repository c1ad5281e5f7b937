#include "ts/stream_types.h"

#include <cstdio>

namespace tavrel {

const char* StreamTypeName(uint8_t stream_type) {
    switch (stream_type) {
        case 0x01:
            return "mpg";
        case 0x02:
            return "m2v";
        case 0x06:
            return "m2s";
        case 0x0D:
            return "dat";
        case 0x0F:
            return "aac";
        case 0x10:
            return "mp4";
        case 0x1B:
            return "264";
        default:
            return "???";
    }
}

std::string FormatStream(uint8_t stream_type, uint16_t pid) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X(%3s) ", pid, StreamTypeName(stream_type));
    return text;
}

}  // namespace tavrel
