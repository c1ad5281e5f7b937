#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrel {

// What a character that ARIB text cannot carry turns into: the geta mark "〓" (Shift_JIS),
// the customary stand-in for a missing glyph in Japanese print.
inline constexpr std::string_view kAribReplacement = "\x81\xAC";

// Writes text in the ARIB 8-bit coding as broadcasters do for service and programme names,
// starting from the default state (G0 Kanji, G1 alphanumeric, G2 hiragana, G3 katakana,
// GL = G0, GR = G2):
// - hiragana through GR from G2, katakana through GR from G3 (locking shifts ESC } / ESC |);
// - ASCII and the full-width characters of the alphanumeric set through G1, invoked into GL
//   with LS1 and back with LS0; the ASCII space becomes the full-width space, since a space
//   code is a control the decoder drops;
// - the programme marks, written as their bracketed texts ("[字]"), as additional symbols
//   designated into G0 (ESC $ ;), with Kanji designated back (ESC $ B) when needed;
// - every other JIS X 0208 character through the Kanji set in G0.
// Control characters are dropped; anything else becomes kAribReplacement.
std::vector<uint8_t> EncodeAribTextFromShiftJis(std::string_view sjis);
// The same for UTF-8 text; characters that Shift_JIS lacks become kAribReplacement.
std::vector<uint8_t> EncodeAribText(std::string_view utf8);

}  // namespace tavrel
