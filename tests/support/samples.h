#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::testing {

inline std::string SamplePath(const std::string& name) {
    return std::string(TAVREL_SAMPLES_DIR) + "/real/" + name;
}

// The bytes of a real capture from the shared samples folder, or nothing when the folder
// (or the file) is not there; tests then skip with a message naming it.
inline std::optional<std::vector<uint8_t>> ReadSample(const std::string& name) {
    std::ifstream in(SamplePath(name), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tavrel::testing
