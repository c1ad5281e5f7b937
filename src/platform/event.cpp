#include "platform/event.h"

#include <chrono>

namespace tavrel {

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    if (manual_reset_) {
        cv_.notify_all();
    } else {
        cv_.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::Wait(uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return set_; };
    bool signalled;
    if (timeout_ms == kInfinite) {
        cv_.wait(lock, ready);
        signalled = true;
    } else {
        signalled = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    if (signalled && !manual_reset_) {
        set_ = false;
    }
    return signalled;
}

}  // namespace tavrel
