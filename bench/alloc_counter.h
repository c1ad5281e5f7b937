#pragma once

#include <cstddef>

namespace tavrel::bench {

// Heap bytes allocated through operator new in this process, now and at the peak since the
// last ResetPeak. Benchmarks use it to report the memory of the objects they measure.
size_t HeapInUse();
size_t HeapPeak();
void ResetHeapPeak();

}  // namespace tavrel::bench
