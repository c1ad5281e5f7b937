#pragma once

#include <cstdint>

#include "sim/multiplex.h"

namespace tavrel::sim {

// A small, portable generator (splitmix64): the same seed gives the same numbers everywhere,
// which the standard distributions do not promise.
class SeededRandom {
public:
    explicit SeededRandom(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 to n - 1; 0 when n is 0.
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
    // A generator of its own for one purpose, so that adding draws elsewhere changes nothing.
    SeededRandom Fork(uint64_t purpose) const {
        return SeededRandom(state_ ^ (purpose * 0xD1B54A32D192ED03ull));
    }

private:
    uint64_t state_;
};

// PIDs every service layout of the simulated multiplex uses.
inline constexpr uint16_t kPatPid = 0x0000;
inline constexpr uint16_t kNitPid = 0x0010;
inline constexpr uint16_t kSdtPid = 0x0011;
inline constexpr uint16_t kEitPid = 0x0012;
inline constexpr uint16_t kTotPid = 0x0014;
inline constexpr uint16_t kNullPacketPid = 0x1FFF;

// Fills the plan part of the manifest: network, transport streams, services with their
// streams and programmes. Carousels are added by the caller, which builds their modules.
void PlanMultiplex(const MultiplexConfig& config, MultiplexManifest& manifest);

// Gives every television service of the plan a data carousel on its data PID: a multipart
// module (a BML document and two PNG images with Content-Location), a PNG module with a Type
// descriptor and a zlib-compressed BML module with a Compression Type descriptor.
void PlanCarousels(const MultiplexConfig& config, MultiplexManifest& manifest);

// The broadcast time `seconds` after `start`.
MjdTime TimeAfter(MjdTime start, int64_t seconds);

}  // namespace tavrel::sim
