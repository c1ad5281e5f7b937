#include "ts/section_buffer.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "ts/crc32.h"

namespace tavrel {

uint32_t SectionBuffer::Write(const uint8_t* src, uint32_t len) {
    const uint32_t n = std::min(len, kLimit - Held());
    if (n == 0) {
        return 0;
    }
    if (!storage_) {
        storage_ = std::make_unique<uint8_t[]>(kLimit);
    }
    if (end_ + n > kLimit) {
        std::memmove(storage_.get(), storage_.get() + begin_, Held());
        end_ -= begin_;
        begin_ = 0;
    }
    std::memcpy(storage_.get() + end_, src, n);
    end_ += n;
    return n;
}

uint32_t SectionBuffer::Read(uint8_t* dst, uint32_t len, bool consume) {
    const uint32_t n = std::min(len, Held());
    if (n == 0) {
        return 0;
    }
    std::memcpy(dst, storage_.get() + begin_, n);
    if (consume) {
        begin_ += n;
        if (begin_ == end_) {
            Clear();
        }
    }
    return n;
}

void SectionBuffer::Consume(uint32_t n) {
    begin_ += std::min(n, Held());
    if (begin_ == end_) {
        Clear();
    }
}

uint32_t SectionBuffer::Crc(uint32_t len) const {
    const uint32_t n = std::min(len, Held());
    if (n == 0) {
        return kCrc32Initial;
    }
    return Crc32Mpeg2(std::span<const uint8_t>(storage_.get() + begin_, n));
}

void SectionBuffer::Release() {
    storage_.reset();
    Clear();
}

}  // namespace tavrel
