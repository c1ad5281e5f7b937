#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tavrel {

// Code sets of the ARIB 8-bit character coding, by the numbers the designation registers hold.
enum class AribCodeSet : uint8_t {
    kKanji = 0,
    kAlphanumeric = 1,
    kHiragana = 2,
    kKatakana = 3,
    kMosaicA = 4,
    kMosaicB = 5,
    kMosaicC = 6,
    kMosaicD = 7,
    kProportionalAlphanumeric = 8,
    kProportionalHiragana = 9,
    kProportionalKatakana = 10,
    kJisX0201Katakana = 11,
    kJisKanjiPlane1 = 12,
    kJisKanjiPlane2 = 13,
    kAdditionalSymbols = 14,
};

// Decodes broadcast text (service, network and event names and texts) into NUL-terminated
// Shift_JIS in `destination`. Printable characters come out full-width, the programme marks
// as bracketed text ("[字]"); control functions are dropped. A character is written only
// when it and the NUL still fit, so the text is cut at whole characters. A NUL byte, or an
// escape sequence or character cut by the end of the source, ends the text. Returns the
// number of text bytes written, without the NUL. An empty destination receives nothing.
size_t DecodeAribText(std::span<const uint8_t> source, std::span<char> destination);

// The Shift_JIS character (lead byte << 8 | trail byte) that `code` of a one-byte set with a
// table (alphanumeric, hiragana, katakana) stands for; 0 for other sets or codes above 0x7F.
// Writers of broadcast text pick their codes from here so that they read back unchanged.
uint16_t AribTableCharacter(AribCodeSet set, uint8_t code);

// A programme mark of the additional-symbol set: its code (row << 8 | cell) and its text.
struct AribMark {
    uint16_t code;
    std::string_view text;  // Shift_JIS
};
std::span<const AribMark> AribMarks();

}  // namespace tavrel
