#include "cli/options.h"

#include <cstdio>

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

MjdTime ParseDateTime(const std::string& text, const std::string& option) {
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            6 ||
        y < 1900 || y > 2037 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0) {
        throw UsageError{option + " needs \"YYYY-MM-DD hh:mm:ss\", not '" + text + "'"};
    }
    const CalendarDate back = DateFromMjd(MjdFromDate(mo, y, d));
    if (back.day != d || back.month != mo) {
        throw UsageError{option + " names a day that does not exist: '" + text + "'"};
    }
    return {MjdFromDate(mo, y, d), static_cast<uint32_t>(h * 3600 + mi * 60 + s)};
}

}  // namespace tavrel::cli
