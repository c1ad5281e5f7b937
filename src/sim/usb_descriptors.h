#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulated_fx2.h"

namespace tavrel::sim {

// The standard descriptors a simulated board answers GET_DESCRIPTOR with.
std::vector<uint8_t> Utf16Descriptor(const std::string& text);        // string, ASCII text
std::vector<uint8_t> DeviceDescriptor(const SimBoard& board);         // strings 1, 2, 3
std::vector<uint8_t> ConfigurationDescriptor(const SimBoard& board);  // configuration 0

}  // namespace tavrel::sim
