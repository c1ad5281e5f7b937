#include "device/usb_driver.h"

#include <chrono>

namespace tavrel {

bool Overlapped::Wait(uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto done = [this] { return done_; };
    if (timeout_ms == 0xFFFFFFFF) {
        cv_.wait(lock, done);
        return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
}

}  // namespace tavrel
