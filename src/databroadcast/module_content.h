#pragma once

// The text handling of module content: lines, MIME header lines and the multipart boundary.
// The parser itself is CCarouselStore::ParseModuleContent.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavrel {

// Reads lines from module data. A line ends at CR LF, a lone CR, a lone LF or a NUL (the
// terminator is consumed, not returned), or after kMaxLine bytes without one; never past the
// end of the data.
class LineReader {
public:
    static constexpr size_t kMaxLine = 1024;

    explicit LineReader(std::span<const uint8_t> data) : data_(data) {}

    bool More() const { return pos_ < data_.size(); }
    size_t Remaining() const { return data_.size() - pos_; }
    std::span<const uint8_t> Rest() const { return data_.subspan(pos_); }
    // The next line; empty when no byte remains.
    std::string_view Next();
    // Moves n bytes on; false (and at the end) when fewer remain.
    bool Skip(size_t n);

private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

struct HeaderLine {
    std::string_view name;
    std::string_view value;  // to the end of the line, parameters included
};

// Splits "Name: value" at the first ':' or ' '; the value starts after the run of ':' and ' '
// behind it. Nothing when the line has neither, or the name is empty or 1023 bytes or longer.
std::optional<HeaderLine> SplitHeaderLine(std::string_view line);

// The boundary parameter of a multipart Content-Type value, quoted or not; empty when there
// is none, it is empty, or it is 77 bytes or longer.
std::string MultipartBoundary(std::string_view content_type_value);

// ASCII comparison without regard to letter case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The decimal number a Content-Length value starts with (sign allowed); 0 when there is none.
// Values beyond 32 bits saturate.
int64_t LeadingDecimal(std::string_view text);

}  // namespace tavrel
