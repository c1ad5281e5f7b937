#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "platform/lock.h"

namespace tavrel {

// A bounded first-in-first-out byte store made of heap chunks. Write stores what fits and
// returns how much that was (a short count is how callers see overflow); Read gathers
// across chunks and may only peek. Not thread-safe by itself.
class CBuffer {
public:
    explicit CBuffer(uint32_t limit);
    virtual ~CBuffer();
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    // Returns the number of bytes taken: min(len, Limit() - Held()), or 0 when the chunk
    // block cannot be allocated.
    uint32_t Write(const void* src, uint32_t len);
    // Copies up to len bytes from the oldest data; with consume, removes them.
    uint32_t Read(void* dst, uint32_t len, bool consume);
    void Clear();
    // CRC-32/MPEG-2 over the first len unread bytes (fewer when less is held).
    uint32_t Crc(uint32_t len) const;

    // Safe to read from any thread without the lock (the status display does).
    uint32_t Held() const { return held_.load(std::memory_order_relaxed); }
    uint32_t Limit() const { return limit_; }

private:
    struct Chunk {
        uint8_t* data;  // allocated with malloc, freed with free
        uint32_t size;
        uint32_t pos;
    };

    const uint32_t limit_;
    std::list<Chunk> chunks_;
    std::atomic<uint32_t> held_{0};
};

// The same store with a lock of its own; callers bracket each operation with it.
class CBufferMT : public CBuffer {
public:
    explicit CBufferMT(uint32_t limit) : CBuffer(limit) {}

    RecursiveLock& Lock() { return lock_; }

private:
    RecursiveLock lock_;
};

}  // namespace tavrel
