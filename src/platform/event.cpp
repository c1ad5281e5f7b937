#include "platform/event.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace tavrel {
namespace {

uint32_t* Address(std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while the word still holds `expected`, until woken or the absolute monotonic
// deadline (none: no limit). Spurious returns are fine: callers look at the word again.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, const timespec* deadline) {
    syscall(SYS_futex, Address(word), FUTEX_WAIT_BITSET_PRIVATE, expected, deadline, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, Address(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

timespec DeadlineAfter(uint32_t ms) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000L;
    if (t.tv_nsec >= 1'000'000'000L) {
        ++t.tv_sec;
        t.tv_nsec -= 1'000'000'000L;
    }
    return t;
}

bool Passed(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

void Event::Set() {
    // Clears the waiter mark too: every sleeper is woken and marks the word again if it has
    // to sleep on (an auto-reset event's losers).
    if (word_.exchange(kSet, std::memory_order_acq_rel) & kWaiters) {
        FutexWakeAll(word_);
    }
}

void Event::Reset() {
    word_.fetch_and(~kSet, std::memory_order_relaxed);
}

bool Event::TryTake() {
    uint32_t w = word_.load(std::memory_order_acquire);
    while ((w & kSet) != 0) {
        if (manual_reset_ || word_.compare_exchange_weak(w, w & ~kSet, std::memory_order_acquire)) {
            return true;
        }
    }
    return false;
}

bool Event::Wait(uint32_t timeout_ms) {
    if (TryTake()) {
        return true;
    }
    if (timeout_ms == 0) {
        return false;
    }
    const timespec deadline = timeout_ms == kInfinite ? timespec{} : DeadlineAfter(timeout_ms);
    for (;;) {
        uint32_t w = word_.load(std::memory_order_relaxed);
        if ((w & kSet) == 0 && (w & kWaiters) == 0 &&
            !word_.compare_exchange_weak(w, w | kWaiters, std::memory_order_relaxed)) {
            continue;  // changed under us: look again
        }
        if ((w & kSet) == 0) {
            FutexWait(word_, w | kWaiters, timeout_ms == kInfinite ? nullptr : &deadline);
        }
        if (TryTake()) {
            return true;
        }
        if (timeout_ms != kInfinite && Passed(deadline)) {
            return false;
        }
    }
}

}  // namespace tavrel
