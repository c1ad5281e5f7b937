#pragma once

#include <atomic>
#include <cstdint>

namespace tavrel {

// Reception statistics of one capture. Written by the device callback, the stream processor
// and the event dispatcher, read by the status display on another thread: every field is
// atomic, each with a single writer, so relaxed loads and stores are enough.
struct StreamStats {
    std::atomic<double> rate{0.0};           // USB transfer rate, bytes per second
    std::atomic<uint32_t> packet_length{0};  // 0 while searching, else 188, 192 or 204
    std::atomic<uint32_t> sync_errors{0};
    std::atomic<uint32_t> discontinuities{0};
    std::atomic<uint32_t> scrambled{0};
    std::atomic<uint32_t> time_date{0};        // broadcast date as MJD, 0 = none yet
    std::atomic<uint32_t> time_seconds{0};     // broadcast time of day
    std::atomic<uint32_t> time_tick{0};        // tick count when that time arrived
    std::atomic<uint32_t> overflow_resets{0};  // "R:"
    std::atomic<uint32_t> counter_sy{0};       // processor input overflows, "Sy:"
    std::atomic<uint32_t> counter_st{0};       // processor packet buffer overflows, "St:"

    void Zero() {
        rate.store(0.0, std::memory_order_relaxed);
        for (auto* field :
             {&packet_length, &sync_errors, &discontinuities, &scrambled, &time_date, &time_seconds,
              &time_tick, &overflow_resets, &counter_sy, &counter_st}) {
            field->store(0, std::memory_order_relaxed);
        }
    }
};

// One writer per counter: a plain load and store, no locked read-modify-write on the hot path.
inline void Increment(std::atomic<uint32_t>& counter) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

}  // namespace tavrel
