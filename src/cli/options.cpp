#include "cli/options.h"

#include <charconv>
#include <string_view>

namespace tavrel::cli {

uint64_t ParseNumber(const std::string& text, uint64_t min, uint64_t max, const std::string& option,
                     bool hex_prefix) {
    std::string_view digits = text;
    int base = 10;
    if (hex_prefix && (digits.starts_with("0x") || digits.starts_with("0X"))) {
        digits.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        value < min || value > max) {
        throw UsageError{option + " needs a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + text + "'"};
    }
    return value;
}

}  // namespace tavrel::cli
