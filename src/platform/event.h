#pragma once

#include <atomic>
#include <cstdint>

namespace tavrel {

// A waitable flag. A manual-reset event stays set until Reset; an auto-reset event lets
// exactly one waiter through per Set and clears itself.
//
// Built on one futex word, so the streaming threads pay a system call only when a waiter
// actually sleeps: Set with nobody waiting and Wait on a set event stay in user space. Set
// touches nothing of the event after publishing the signal except for the address it wakes,
// so a waiter that saw the signal may destroy the event at once.
class Event {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    explicit Event(bool manual_reset, bool initially_set = false)
        : manual_reset_(manual_reset), word_(initially_set ? kSet : 0) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits up to timeout_ms milliseconds (kInfinite: forever); true when the event was set.
    bool Wait(uint32_t timeout_ms);
    // A zero-timeout wait: for an auto-reset event, a true result consumes the signal.
    bool Test() { return Wait(0); }

private:
    static constexpr uint32_t kSet = 1;
    static constexpr uint32_t kWaiters = 2;  // someone may sleep on the word: Set must wake

    // Takes the signal when it is there (clearing it for an auto-reset event).
    bool TryTake();

    const bool manual_reset_;
    std::atomic<uint32_t> word_;
    static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
};

}  // namespace tavrel
