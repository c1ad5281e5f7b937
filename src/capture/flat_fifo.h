#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace tavrel {

// A bounded byte FIFO in one contiguous block, for the write-behind buffers that take a packet
// at a time: the same limit and short-count behaviour as a chunk buffer, without a heap chunk
// per write, and with the held bytes readable in place.
class FlatFifo {
public:
    explicit FlatFifo(uint32_t limit) : limit_(limit) {}

    // Takes min(data.size(), Limit() - Held()) bytes and returns that count.
    uint32_t Write(std::span<const uint8_t> data) {
        const uint32_t held = Held();
        const auto n = static_cast<uint32_t>(std::min<size_t>(data.size(), limit_ - held));
        if (n == 0) {
            return 0;
        }
        if (!bytes_) {
            bytes_ = std::make_unique<uint8_t[]>(limit_);
        }
        if (end_ + n > limit_) {  // room only at the front: move what is held there
            std::memmove(bytes_.get(), bytes_.get() + begin_, held);
            begin_ = 0;
            end_ = held;
        }
        std::memcpy(bytes_.get() + end_, data.data(), n);
        end_ += n;
        held_.store(held + n, std::memory_order_relaxed);
        return n;
    }

    // The first n held bytes (fewer when less is held), in place until the next call.
    std::span<const uint8_t> Front(uint32_t n) const {
        return {bytes_.get() + begin_, std::min(n, Held())};
    }

    void Consume(uint32_t n) {
        n = std::min(n, Held());
        begin_ += n;
        const uint32_t held = end_ - begin_;
        // Move a small rest to the front at once, so that the next writes append without
        // ever having to move a large amount later.
        if (begin_ != 0 && held <= kMoveAtOnce) {
            std::memmove(bytes_.get(), bytes_.get() + begin_, held);
            begin_ = 0;
            end_ = held;
        }
        held_.store(held, std::memory_order_relaxed);
    }

    void Clear() { Consume(Held()); }

    // Safe to read from another thread (the status display does).
    uint32_t Held() const { return held_.load(std::memory_order_relaxed); }
    uint32_t Limit() const { return limit_; }

private:
    static constexpr uint32_t kMoveAtOnce = 64 * 1024;

    const uint32_t limit_;
    std::unique_ptr<uint8_t[]> bytes_;  // allocated on the first write
    uint32_t begin_ = 0;
    uint32_t end_ = 0;
    std::atomic<uint32_t> held_{0};
};

}  // namespace tavrel
