#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrel {

// Bounds-checked big-endian reads over a byte span. Every read compares against the bytes
// left and advances only on success; a failed read is sticky, so a loop over a corrupt
// length ends by itself. No pointer past the end is ever formed.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t Remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
    size_t Position() const { return pos_; }
    bool Ok() const { return ok_; }
    bool AtEnd() const { return Remaining() == 0; }
    // True when bytes remain and no read has failed: the condition of a loop over entries.
    bool More() const { return ok_ && pos_ < bytes_.size(); }

    bool Has(size_t n) const { return ok_ && n <= bytes_.size() - pos_; }

    uint8_t U8() { return static_cast<uint8_t>(ReadBE(1)); }
    uint16_t U16() { return static_cast<uint16_t>(ReadBE(2)); }
    uint32_t U24() { return static_cast<uint32_t>(ReadBE(3)); }
    uint32_t U32() { return static_cast<uint32_t>(ReadBE(4)); }
    uint64_t U40() { return ReadBE(5); }
    // Little-endian fields, as USB descriptors and driver request headers carry them.
    uint16_t U16LE() { return static_cast<uint16_t>(ReadLE(2)); }
    uint32_t U32LE() { return static_cast<uint32_t>(ReadLE(4)); }

    // Looks at the byte `offset` ahead without moving; 0 when out of range (check Has first).
    uint8_t Peek(size_t offset = 0) const {
        return Has(offset + 1) ? bytes_[pos_ + offset] : uint8_t{0};
    }

    bool Skip(size_t n) {
        if (!Has(n)) {
            return Fail();
        }
        pos_ += n;
        return true;
    }

    // The next n bytes as a span; an empty span (and a failed reader) when fewer remain.
    std::span<const uint8_t> Bytes(size_t n) {
        if (!Has(n)) {
            Fail();
            return {};
        }
        auto out = bytes_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

    // A reader cut to the next n bytes, for a length-prefixed loop: a bad length can only
    // starve the inner loop, never run past the outer data. When fewer than n bytes remain
    // the sub-reader gets what is left and this reader fails.
    ByteReader Sub(size_t n) {
        if (!Has(n)) {
            ByteReader rest(bytes_.subspan(ok_ ? pos_ : bytes_.size()));
            Fail();
            return rest;
        }
        return ByteReader(Bytes(n));
    }

    // Everything not yet read.
    std::span<const uint8_t> Rest() const {
        return ok_ ? bytes_.subspan(pos_) : std::span<const uint8_t>();
    }

private:
    uint64_t ReadBE(size_t n) {
        if (!Has(n)) {
            Fail();
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) {
            v = (v << 8) | bytes_[pos_ + i];
        }
        pos_ += n;
        return v;
    }

    uint64_t ReadLE(size_t n) {
        if (!Has(n)) {
            Fail();
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = n; i > 0; --i) {
            v = (v << 8) | bytes_[pos_ + i - 1];
        }
        pos_ += n;
        return v;
    }

    bool Fail() {
        ok_ = false;
        return false;
    }

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace tavrel
