#pragma once

#include <cstdint>

namespace tavrel {

// Gives up the processor for about `milliseconds` (0: just yields).
void Sleep(uint32_t milliseconds);

}  // namespace tavrel
