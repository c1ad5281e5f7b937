#include "sim/arib_text_writer.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "ts/arib_text.h"

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t ESC = 0x1B;

std::string DecodeToUtf8(const Bytes& arib) {
    std::vector<char> destination(arib.size() * 3 + 16);
    const size_t length = DecodeAribText(arib, destination);
    return ShiftJisToUtf8(std::string_view(destination.data(), length));
}

// The UTF-8 form of a code point from U+0800 to U+FFFF: kana, ideographic space, full-width forms.
std::string Utf8(char32_t cp) {
    return {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))};
}

// A JIS X 0208 character by row and cell, through EUC-JP so as not to lean on the
// arithmetic under test; empty where the cell is unassigned.
std::string JisCharacter(int row, int cell) {
    iconv_t cd = iconv_open("UTF-8", "EUC-JP");
    char in[2] = {static_cast<char>(0xA0 + row), static_cast<char>(0xA0 + cell)};
    char out[8];
    char* in_ptr = in;
    char* out_ptr = out;
    size_t in_left = 2;
    size_t out_left = sizeof out;
    const size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    return result == static_cast<size_t>(-1) ? std::string() : std::string(out, out_ptr);
}

TEST(AribTextWriter, WritesEachCharacterThroughItsSetShiftingOnlyWhenTheSetChanges) {
    const std::pair<const char*, Bytes> kCases[] = {
        {"亜", {0x30, 0x21}},
        {"あい", {0xA2, 0xA4}},
        {"アイ", {ESC, 0x7C, 0xA2, 0xA4}},
        {"A1", {0x0E, 0x41, 0x31}},
        {"Ａ", {0x0E, 0x41}},
        {"[字]", {ESC, 0x24, 0x3B, 0x7A, 0x56}},
        {"NHK総合", {0x0E, 0x4E, 0x48, 0x4B, 0x0F, 0x41, 0x6D, 0x39, 0x67}},
        {"アあア", {ESC, 0x7C, 0xA2, ESC, 0x7D, 0xA2, ESC, 0x7C, 0xA2}},
        // Punctuation both kana sets share stays in the one GR shows.
        {"アー", {ESC, 0x7C, 0xA2, 0xF9}},
        {"あー", {0xA2, 0xF9}},
        {"[字][再]亜", {ESC, 0x24, 0x3B, 0x7A, 0x56, 0x7A, 0x6A, ESC, 0x24, 0x42, 0x30, 0x21}},
        {"A[HV]", {0x0E, 0x41, 0x0F, ESC, 0x24, 0x3B, 0x7A, 0x50}},
        {" ", {0x21, 0x21}},             // the decoder drops 0x20: the full-width space instead
        {"😀", {0x22, 0x2E}},             // what has no code becomes the geta mark
        {"a\tb\n", {0x0E, 0x61, 0x62}},  // controls are dropped
    };
    for (const auto& [text, arib] : kCases) {
        EXPECT_EQ(EncodeAribText(text), arib) << text;
    }
    EXPECT_EQ(DecodeToUtf8(EncodeAribText("A B")), "Ａ　Ｂ");
    EXPECT_EQ(DecodeToUtf8(EncodeAribText("\xFF")), "〓");  // not UTF-8
    // Shift_JIS input encodes the same; what it cannot hold becomes the geta mark too.
    EXPECT_EQ(EncodeAribTextFromShiftJis("\x88\x9F\x82\xA0\x83\x41"
                                         "A[\x8E\x9A]"),
              EncodeAribText("亜あアA[字]"));
    for (const char* sjis : {"\xB1", "\xFA\x40", "\x88"}) {  // half-width, beyond row 94, cut
        EXPECT_EQ(EncodeAribTextFromShiftJis(sjis), (Bytes{0x22, 0x2E}));
    }
}

TEST(AribTextWriter, EveryMarkReadsBack) {
    for (const char* mark : {"[HV]", "[SD]", "[字]", "[双]", "[デ]", "[Ｓ]", "[二]", "[多]",
                             "[SS]", "[Ｎ]", "[■]",  "[●]",  "[天]", "[映]", "[無]", "[前]",
                             "[後]", "[再]", "[新]", "[終]", "[生]", "[声]", "[吹]", "[PPV]"}) {
        const Bytes arib = EncodeAribText(mark);
        EXPECT_EQ(arib.size(), 5u) << mark << ": ESC $ ; row cell";
        EXPECT_EQ(DecodeToUtf8(arib), mark);
    }
    // A bracket that opens no mark is an ordinary character.
    EXPECT_EQ(DecodeToUtf8(EncodeAribText("[X]")), "［Ｘ］");
}

TEST(AribTextWriter, RandomJapaneseTextReadsBackUnchanged) {
    std::mt19937 random(20090101);
    std::vector<std::string> kanji;  // levels 1 and 2: rows 16 to 84
    for (int row = 16; row <= 84; ++row) {
        for (int cell = 1; cell <= 94; ++cell) {
            std::string c = JisCharacter(row, cell);
            if (!c.empty()) {
                kanji.push_back(std::move(c));
            }
        }
    }
    ASSERT_GT(kanji.size(), 6300u);
    const std::string ascii =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$%&()*+,-./:;<=>?@]^_{|} ";
    // No '[': it could open a mark. No '"', '\'', '\\', '`' or '~': the set shows them otherwise.
    for (int text = 0; text < 400; ++text) {
        std::string input;
        std::string expected;
        const int length = std::uniform_int_distribution<int>(1, 40)(random);
        for (int i = 0; i < length; ++i) {
            const auto pick = [&](auto low, auto high) {
                return std::uniform_int_distribution<decltype(low)>(low, high)(random);
            };
            const int kind = pick(0, 3);
            if (kind == 3) {  // ASCII comes back full-width
                const char c = ascii[pick(size_t{0}, ascii.size() - 1)];
                input += c;
                expected += c == ' ' ? Utf8(0x3000) : Utf8(0xFF01 + static_cast<uint8_t>(c) - 0x21);
                continue;
            }
            const std::string c =
                kind == 0   ? Utf8(pick(char32_t{0x3041}, char32_t{0x3093}))  // ぁ-ん
                : kind == 1 ? Utf8(pick(char32_t{0x30A1}, char32_t{0x30F6}))  // ァ-ヶ
                            : kanji[pick(size_t{0}, kanji.size() - 1)];
            input += c;
            expected += c;
        }
        ASSERT_EQ(DecodeToUtf8(EncodeAribText(input)), expected) << input;
    }
}

}  // namespace
}  // namespace tavrel
