// Replaces the global operator new and delete of the benchmark binary with counting versions.
#include "alloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace tavrel::bench {
namespace {

std::atomic<size_t> in_use{0};
std::atomic<size_t> peak{0};

void* Allocate(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const size_t now = in_use.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    return p;
}

void Release(void* p) {
    if (p != nullptr) {
        in_use.fetch_sub(malloc_usable_size(p));
        std::free(p);
    }
}

}  // namespace

size_t HeapInUse() {
    return in_use.load();
}
size_t HeapPeak() {
    return peak.load();
}
void ResetHeapPeak() {
    peak.store(in_use.load());
}

}  // namespace tavrel::bench

void* operator new(size_t size) {
    return tavrel::bench::Allocate(size);
}
void* operator new[](size_t size) {
    return tavrel::bench::Allocate(size);
}
void operator delete(void* p) noexcept {
    tavrel::bench::Release(p);
}
void operator delete[](void* p) noexcept {
    tavrel::bench::Release(p);
}
void operator delete(void* p, size_t) noexcept {
    tavrel::bench::Release(p);
}
void operator delete[](void* p, size_t) noexcept {
    tavrel::bench::Release(p);
}
