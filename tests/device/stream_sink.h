#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>

#include "device/device_notification.h"
#include "platform/sleep.h"
#include "sim/multiplex.h"
#include "ts/crc32.h"

namespace tavrel::test_support {

// What the data callback saw: a running CRC of the bytes, and whether every total it was
// given matched the bytes delivered so far.
struct Sink {
    std::mutex mutex;
    uint64_t bytes = 0;
    uint32_t crc = kCrc32Initial;
    uint64_t calls = 0;
    bool totals_ok = true;
    uint32_t shortest = UINT32_MAX;

    static void Callback(const uint8_t* data, uint32_t length, uint32_t low, uint32_t high,
                         void* user) {
        auto& s = *static_cast<Sink*>(user);
        std::lock_guard lock(s.mutex);
        s.crc = Crc32Update(s.crc, {data, length});
        s.bytes += length;
        ++s.calls;
        s.shortest = std::min(s.shortest, length);
        s.totals_ok = s.totals_ok && ((uint64_t{high} << 32) | low) == s.bytes;
    }
    uint64_t Bytes() {
        std::lock_guard lock(mutex);
        return bytes;
    }
};

// Counts the arrival and removal notices it is given.
struct Recipient : DeviceNotificationRecipient {
    void OnDeviceChange(bool arrival) override { (arrival ? arrivals : removals)++; }
    std::atomic<int> arrivals{0};
    std::atomic<int> removals{0};
};

// Polls until `done` or a few seconds have passed.
template <typename F>
inline bool WaitFor(F done, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

// The bytes and CRC the generator gives for the configuration.
inline std::pair<uint64_t, uint32_t> Expected(const sim::MultiplexConfig& config) {
    sim::MultiplexGenerator gen(config);
    uint64_t bytes = 0;
    uint32_t crc = kCrc32Initial;
    gen.Run([&](std::span<const uint8_t> chunk) {
        crc = Crc32Update(crc, chunk);
        bytes += chunk.size();
    });
    return {bytes, crc};
}

}  // namespace tavrel::test_support
