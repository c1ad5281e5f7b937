#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace tavrel {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(TextEncoding, ShiftJisConvertsToUtf8) {
    EXPECT_EQ(ShiftJisToUtf8("\x88\x9F\x82\xA0\x83\x41"), "亜あア");
    EXPECT_EQ(ShiftJisToUtf8("NHK\x91\x8D\x8D\x87"), "NHK総合");
    EXPECT_EQ(ShiftJisToUtf8("\xB1"), "ｱ");  // half-width katakana are single bytes
    EXPECT_EQ(ShiftJisToUtf8(""), "");
}

TEST(TextEncoding, ShiftJisIsTheWindowsCodePage) {
    // Where code page 932 parts from plain Shift_JIS: the wave dash and the minus as
    // full-width forms, the NEC row 13 and the IBM extension rows.
    EXPECT_EQ(ShiftJisToUtf8("\x81\x60"), "～");  // U+FF5E, not U+301C
    EXPECT_EQ(ShiftJisToUtf8("\x81\x7C"), "－");  // U+FF0D, not U+2212
    EXPECT_EQ(ShiftJisToUtf8("\x87\x40"), "①");
    EXPECT_EQ(ShiftJisToUtf8("\xFA\x40"), "ⅰ");
    EXPECT_EQ(ShiftJisToUtf8("\\~"), "\\~");  // ASCII stays ASCII
}

TEST(TextEncoding, InvalidShiftJisBecomesReplacementAndTheRestSurvives) {
    EXPECT_EQ(ShiftJisToUtf8("A\x80"
                             "B"),
              "A" + kReplacement + "B");
    EXPECT_EQ(ShiftJisToUtf8("A\xFF"
                             "B"),
              "A" + kReplacement + "B");
    // A lead byte cut off at the end.
    EXPECT_EQ(ShiftJisToUtf8("\x88\x9F\x88"), "亜" + kReplacement);
    // A lead byte before an ASCII byte that is no trail: only the lead is lost.
    EXPECT_EQ(ShiftJisToUtf8("\x81\x20X"), kReplacement + " X");
    // An unassigned pair is one bad character.
    EXPECT_EQ(ShiftJisToUtf8("\x85\x80\x88\x9F"), kReplacement + "亜");
    EXPECT_EQ(ShiftJisToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextEncoding, Utf8ConvertsToShiftJis) {
    EXPECT_EQ(Utf8ToShiftJis("亜あアA"),
              "\x88\x9F\x82\xA0\x83\x41"
              "A");
    EXPECT_EQ(Utf8ToShiftJis("～①"), "\x81\x60\x87\x40");
    EXPECT_EQ(Utf8ToShiftJis(""), "");
}

TEST(TextEncoding, UnconvertibleUtf8BecomesReplacement) {
    EXPECT_EQ(Utf8ToShiftJis("a😀b"), "a?b");  // no Shift_JIS form
    EXPECT_EQ(Utf8ToShiftJis("a\xFF"
                             "b"),
              "a?b");  // not UTF-8 at all
    EXPECT_EQ(Utf8ToShiftJis("a\xE3\x81"
                             "b"),
              "a?b");  // a sequence cut short: one mark
    EXPECT_EQ(Utf8ToShiftJis("a\xED\xA0\x80"
                             "b"),
              "a???b");  // a surrogate is three bad bytes
    EXPECT_EQ(Utf8ToShiftJis("\xE4\xBA\x9C\xE3"), "\x88\x9F?");
    EXPECT_EQ(Utf8ToShiftJis("😀亜", "\x81\xAC"), "\x81\xAC\x88\x9F");
}

TEST(TextEncoding, FixedBufferStopsAtTheNulOrTheEnd) {
    const std::array<char, 8> with_nul = {'\x88', '\x9F', 'A', '\0', 'x', 'y', 'z', 'w'};
    EXPECT_EQ(ShiftJisBufferToUtf8(with_nul), "亜A");
    const std::array<char, 4> full = {'\x88', '\x9F', '\x82', '\xA0'};
    EXPECT_EQ(ShiftJisBufferToUtf8(full), "亜あ");
    const std::array<char, 3> cut = {'\x88', '\x9F', '\x82'};  // truncated mid-character
    EXPECT_EQ(ShiftJisBufferToUtf8(cut), "亜" + kReplacement);
    EXPECT_EQ(ShiftJisBufferToUtf8({}), "");
}

TEST(TextEncoding, LongTextsConvertWhole) {
    std::string sjis;
    std::string utf8;
    for (int i = 0; i < 5000; ++i) {
        sjis +=
            "\x88\x9F"
            "a";
        utf8 += "亜a";
    }
    EXPECT_EQ(ShiftJisToUtf8(sjis), utf8);
    EXPECT_EQ(Utf8ToShiftJis(utf8), sjis);
}

}  // namespace
}  // namespace tavrel
