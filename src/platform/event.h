#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tavrel {

// A waitable flag. A manual-reset event stays set until Reset; an auto-reset event lets
// exactly one waiter through per Set and clears itself.
class Event {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    explicit Event(bool manual_reset, bool initially_set = false)
        : manual_reset_(manual_reset), set_(initially_set) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits up to timeout_ms milliseconds (kInfinite: forever); true when the event was set.
    bool Wait(uint32_t timeout_ms);
    // A zero-timeout wait: for an auto-reset event, a true result consumes the signal.
    bool Test() { return Wait(0); }

private:
    const bool manual_reset_;
    bool set_;
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace tavrel
