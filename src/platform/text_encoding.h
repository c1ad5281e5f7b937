#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tavrel {

// Shift_JIS here is code page 932, the form Japanese Windows wrote, which the records and
// the files of this program keep. Conversions never fail: a byte sequence that is not valid
// input, or a character the other side lacks, becomes a replacement and the text goes on.

// An invalid or unassigned Shift_JIS sequence becomes U+FFFD.
std::string ShiftJisToUtf8(std::string_view sjis);
// Invalid UTF-8 and characters without a Shift_JIS form become `replacement` (itself
// Shift_JIS, copied as it is).
std::string Utf8ToShiftJis(std::string_view utf8, std::string_view replacement = "?");
// A fixed-size record field: the text ends at the first NUL or at the end of the buffer.
std::string ShiftJisBufferToUtf8(std::span<const char> buffer);

// True for the first byte of a two-byte Shift_JIS character.
inline bool IsShiftJisLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
// How many bytes of the Shift_JIS text (up to its first NUL) fit into `room` bytes without
// splitting a character: a lone lead byte at the end would show as garbage. A lead byte
// without its trail byte ends the text.
size_t ShiftJisFittingLength(std::string_view text, size_t room);

}  // namespace tavrel
