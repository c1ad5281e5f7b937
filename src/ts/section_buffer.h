#pragma once

#include <cstdint>
#include <memory>

namespace tavrel {

// The bytes of one PID's section in progress: a bounded FIFO with the behaviour of a
// 4096-byte chunk buffer (writes beyond the limit are cut off, reads consume from the
// front, the CRC runs in place), kept flat because every table packet passes through it.
// Storage is allocated on the first write, so the 8192 PIDs cost nothing until they carry
// tables.
class SectionBuffer {
public:
    static constexpr uint32_t kLimit = 4096;

    uint32_t Held() const { return end_ - begin_; }
    // Takes min(len, kLimit - Held()) bytes and returns that count.
    uint32_t Write(const uint8_t* src, uint32_t len);
    uint32_t Read(uint8_t* dst, uint32_t len, bool consume);
    // CRC-32/MPEG-2 over the first len held bytes (fewer when less is held).
    uint32_t Crc(uint32_t len) const;
    void Clear() { begin_ = end_ = 0; }
    // Drops the first n held bytes (fewer when less is held).
    void Consume(uint32_t n);
    // Clears and gives the storage back.
    void Release();
    const uint8_t* Data() const { return storage_ ? storage_.get() + begin_ : nullptr; }

private:
    std::unique_ptr<uint8_t[]> storage_;
    uint32_t begin_ = 0;
    uint32_t end_ = 0;
};

}  // namespace tavrel
