#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>

namespace tavrel {

// Service names from the SDTs, keyed by service_id alone: entries of different transport
// streams with the same service_id share one name. Written by the packet loop, read by the
// service window from its own thread, hence the lock.
class ServiceNameTable {
public:
    static constexpr size_t kNameSize = 30;  // bytes including the NUL
    using Name = std::array<char, kNameSize>;

    // Inserts or overwrites; the name ends at its first NUL and is cut to kNameSize - 1 bytes.
    void Set(uint16_t service_id, std::span<const char> name);
    // Copies the name, cut to destination.size() - 1 bytes plus a NUL, and returns 1 when the
    // service is known; otherwise returns 0 and leaves the destination untouched.
    int Lookup(uint16_t service_id, std::span<char> destination) const;
    void Clear();
    size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::map<uint16_t, Name> names_;
};

}  // namespace tavrel
