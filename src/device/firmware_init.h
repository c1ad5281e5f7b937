#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tavrel {

// One write of the command sequence that puts some boards' bridge firmware into streaming.
struct FirmwareInitStep {
    std::array<uint8_t, 2> bytes;
    uint8_t length;

    std::span<const uint8_t> Bytes() const { return {bytes.data(), length}; }
};

// Sent on the bulk OUT endpoint, each step as one transfer, before the first read.
inline constexpr std::array<FirmwareInitStep, 3> kFirmwareInitSequence{{
    {{0x80, 0x00}, 2},
    {{0x8B, 0x00}, 1},
    {{0x80, 0x01}, 2},
}};

}  // namespace tavrel
