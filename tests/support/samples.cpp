#include "support/samples.h"

#include <fstream>
#include <iterator>

namespace tavrel::testing {

std::string SamplePath(const std::string& name) {
    return std::string(TAVREL_SAMPLES_DIR) + "/real/" + name;
}

std::optional<std::vector<uint8_t>> ReadSample(const std::string& name) {
    std::ifstream in(SamplePath(name), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tavrel::testing
