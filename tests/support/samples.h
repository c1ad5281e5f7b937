#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::testing {

// The bytes of a real capture from the shared samples folder, or nothing when the folder
// (or the file) is not there; tests then skip with a message naming it.
std::optional<std::vector<uint8_t>> ReadSample(const std::string& name);
std::string SamplePath(const std::string& name);

}  // namespace tavrel::testing
