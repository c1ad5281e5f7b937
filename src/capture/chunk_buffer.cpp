#include "capture/chunk_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "ts/crc32.h"

namespace tavrel {

CBuffer::CBuffer(uint32_t limit) : limit_(limit) {}

CBuffer::~CBuffer() {
    Clear();
}

uint32_t CBuffer::Write(const void* src, uint32_t len) {
    const uint32_t held = Held();
    if (len == 0 || held >= limit_) {
        return 0;
    }
    const uint32_t n = std::min(len, limit_ - held);
    auto* block = static_cast<uint8_t*>(std::malloc(n));
    if (block == nullptr) {
        return 0;
    }
    std::memcpy(block, src, n);
    try {
        chunks_.push_back(Chunk{block, n, 0});
    } catch (...) {
        std::free(block);
        throw;
    }
    held_.store(held + n, std::memory_order_relaxed);
    return n;
}

uint32_t CBuffer::Read(void* dst, uint32_t len, bool consume) {
    auto* out = static_cast<uint8_t*>(dst);
    uint32_t copied = 0;
    auto it = chunks_.begin();
    while (copied < len && it != chunks_.end()) {
        const uint32_t take = std::min(len - copied, it->size - it->pos);
        std::memcpy(out + copied, it->data + it->pos, take);
        copied += take;
        if (consume) {
            it->pos += take;
        }
        ++it;
    }
    if (consume && copied > 0) {
        held_.store(Held() - copied, std::memory_order_relaxed);
        while (!chunks_.empty() && chunks_.front().pos == chunks_.front().size) {
            std::free(chunks_.front().data);
            chunks_.pop_front();
        }
    }
    return copied;
}

void CBuffer::Clear() {
    for (Chunk& chunk : chunks_) {
        std::free(chunk.data);
    }
    chunks_.clear();
    held_.store(0, std::memory_order_relaxed);
}

uint32_t CBuffer::Crc(uint32_t len) const {
    uint32_t crc = kCrc32Initial;
    for (const Chunk& chunk : chunks_) {
        if (len == 0) {
            break;
        }
        const uint32_t take = std::min(len, chunk.size - chunk.pos);
        crc = Crc32Update(crc, std::span<const uint8_t>(chunk.data + chunk.pos, take));
        len -= take;
    }
    return crc;
}

}  // namespace tavrel
