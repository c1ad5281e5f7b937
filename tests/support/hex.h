#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrel::testing {

// Bytes from hex digits; spaces between them are only for the eye.
inline std::vector<uint8_t> Hex(std::string_view digits) {
    std::vector<uint8_t> out;
    int high = -1;
    for (const char c : digits) {
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) {
            continue;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

}  // namespace tavrel::testing
