#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrel {
namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

TEST(TextEncoding, ShiftJisIsTheWindowsCodePageInvalidBytesBecomeReplacementsFieldsEndAtNul) {
    const std::pair<std::string, std::string> kCases[] = {
        {"\x88\x9F\x82\xA0\x83\x41", "亜あア"},
        {"NHK\x91\x8D\x8D\x87", "NHK総合"},
        {"\xB1", "ｱ"},  // half-width katakana are single bytes
        {"", ""},
        // Where code page 932 parts from plain Shift_JIS: the wave dash and the minus as
        // full-width forms, the NEC row 13 and the IBM extension rows.
        {"\x81\x60", "～"},  // U+FF5E, not U+301C
        {"\x81\x7C", "－"},  // U+FF0D, not U+2212
        {"\x87\x40", "①"},
        {"\xFA\x40", "ⅰ"},
        {"\\~", "\\~"},  // ASCII stays ASCII
        {"A\200B", "A" + kBad + "B"},
        {"A\377B", "A" + kBad + "B"},
        {"\x88\x9F\x88", "亜" + kBad},      // a lead byte cut off at the end
        {"\x81\x20X", kBad + " X"},         // a lead byte before no trail: only it is lost
        {"\x85\x80\x88\x9F", kBad + "亜"},  // an unassigned pair is one bad character
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [sjis, utf8] : kCases) {
        EXPECT_EQ(ShiftJisToUtf8(sjis), utf8);
        // A fixed buffer (a record's text field) ends at its first NUL or at its end.
        const std::string field = sjis + '\0' + "\x88junk";
        EXPECT_EQ(ShiftJisBufferToUtf8(std::span(sjis)), utf8.substr(0, utf8.find('\0')));
        EXPECT_EQ(ShiftJisBufferToUtf8(std::span(field)), utf8.substr(0, utf8.find('\0')));
    }
}

TEST(TextEncoding, Utf8ConvertsToShiftJisWithOneMarkPerBadCharacter) {
    const std::pair<std::string, std::string> kCases[] = {
        {"亜あアA", "\x88\x9F\x82\xA0\x83\x41\x41"},
        {"～①", "\x81\x60\x87\x40"},
        {"", ""},
        {"a😀b", "a?b"},               // no Shift_JIS form
        {"a\377b", "a?b"},            // not UTF-8 at all
        {"a\343\201b", "a?b"},        // a sequence cut short: one mark
        {"a\355\240\200b", "a???b"},  // a surrogate is three bad bytes
        {"\xE4\xBA\x9C\xE3", "\x88\x9F?"},
    };
    for (const auto& [utf8, sjis] : kCases) {
        EXPECT_EQ(Utf8ToShiftJis(utf8), sjis);
    }
    EXPECT_EQ(Utf8ToShiftJis("😀亜", "\x81\xAC"), "\x81\xAC\x88\x9F");
    // Long texts convert whole, both ways.
    std::string sjis, utf8;
    for (int i = 0; i < 5000; ++i) {
        sjis += "\x88\x9F\x61";
        utf8 += "亜a";
    }
    EXPECT_EQ(ShiftJisToUtf8(sjis), utf8);
    EXPECT_EQ(Utf8ToShiftJis(utf8), sjis);
}

}  // namespace
}  // namespace tavrel
