#include "ts/arib_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_encoding.h"

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t LS0 = 0x0F;
constexpr uint8_t LS1 = 0x0E;
constexpr uint8_t SS2 = 0x19;
constexpr uint8_t SS3 = 0x1D;

// Decodes into a roomy buffer filled with a marker, and checks the NUL is where the returned
// length says.
std::string Decode(const Bytes& source, size_t destination_size = 256) {
    std::vector<char> destination(destination_size, '\x55');
    const size_t length = DecodeAribText(source, destination);
    EXPECT_LT(length, destination_size);
    if (length < destination_size) {
        EXPECT_EQ(destination[length], '\0');
    }
    return std::string(destination.data(), std::min(length, destination_size));
}

std::string DecodeToUtf8(const Bytes& source) {
    return ShiftJisToUtf8(Decode(source));
}

// The UTF-8 form of a code point from U+0800 to U+FFFF: kana, ideographic space, full-width forms.
std::string Utf8(char32_t cp) {
    return {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))};
}

const std::string kAi = "\x88\x9F";     // 亜, JIS 0x3021
const std::string kSpace = "\x81\x40";  // full-width space
const Bytes kAiCode = {0x30, 0x21};

Bytes Repeat(const Bytes& code, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), code.begin(), code.end());
    }
    return out;
}

TEST(AribText, KanjiSetConvertsJisRowAndCellToShiftJis) {
    EXPECT_EQ(Decode({ESC, 0x24, 0x42, 0x30, 0x21}), kAi);
    EXPECT_EQ(Decode({0x30, 0x21}), kAi) << "G0 starts with the Kanji set in GL";
    EXPECT_EQ(Decode({0x21, 0x21}), kSpace);
    EXPECT_EQ(Decode({0x21, 0x5F}), "\x81\x7E");  // last trail below 0x7F
    EXPECT_EQ(Decode({0x21, 0x60}), "\x81\x80");  // trail jumps over 0x7F
    EXPECT_EQ(Decode({0x22, 0x21}), "\x81\x9F");  // even row: trail from 0x9F
    EXPECT_EQ(Decode({0x5E, 0x7E}), "\x9F\xFC");  // last row with a lead below 0xA0
    EXPECT_EQ(Decode({0x5F, 0x21}), "\xE0\x40");  // first row with a lead from 0xE0
    EXPECT_EQ(Decode({0x50, 0x21}), "\x98\x9F");  // 弌, first Kanji of level 2
    EXPECT_EQ(Decode({0x7E, 0x7E}), "\xEF\xFC");  // row 94, cell 94
    EXPECT_EQ(DecodeToUtf8({0x46, 0x7C, 0x4B, 0x5C}), "日本");
    // The JIS compatible Kanji planes use the same arithmetic.
    EXPECT_EQ(Decode({ESC, 0x24, 0x39, 0x30, 0x21}), kAi);
    EXPECT_EQ(Decode({ESC, 0x24, 0x3A, 0x30, 0x21}), kAi);
}

TEST(AribText, LockingShiftsMoveGlAndGr) {
    EXPECT_EQ(Decode({LS1, 0x41, LS0, 0x30, 0x21}), "\x82\x60" + kAi) << "LS1, LS0";
    EXPECT_EQ(Decode({ESC, 0x6E, 0x22}), "\x82\xA0") << "LS2: GL shows G2 (hiragana)";
    EXPECT_EQ(Decode({ESC, 0x6F, 0x22}), "\x83\x41") << "LS3: GL shows G3 (katakana)";
    EXPECT_EQ(Decode({ESC, 0x7E, 0xC1}), "\x82\x60") << "LS1R: GR shows G1 (alphanumeric)";
    EXPECT_EQ(Decode({ESC, 0x7C, 0xA2, ESC, 0x7D, 0xA2}), "\x83\x41\x82\xA0") << "LS3R, LS2R";
}

TEST(AribText, OneByteDesignationsConsumeThreeOrFourBytes) {
    // ESC ( J: alphanumeric into G0, three bytes; the next two bytes are characters.
    EXPECT_EQ(Decode({ESC, 0x28, 0x4A, 0x41, 0x42}), "\x82\x60\x82\x61");
    // ESC ) SP J: the DRCS form, four bytes; hiragana was put in G1 first to see the change.
    EXPECT_EQ(Decode({ESC, 0x29, 0x30, LS1, 0x22}), "\x82\xA0");
    EXPECT_EQ(Decode({ESC, 0x29, 0x30, ESC, 0x29, 0x20, 0x4A, LS1, 0x41}), "\x82\x60");
    // ESC * and ESC + reach G2 and G3.
    EXPECT_EQ(Decode({ESC, 0x2A, 0x31, 0xA2}), "\x83\x41");
    EXPECT_EQ(Decode({ESC, 0x2B, 0x30, ESC, 0x7C, 0xA2}), "\x82\xA0");
    // The DRCS form with final B designates Kanji: width follows the set, not the form.
    EXPECT_EQ(Decode({ESC, 0x28, 0x4A, ESC, 0x28, 0x20, 0x42, 0x30, 0x21}), kAi);
}

TEST(AribText, TwoByteDesignationsConsumeThreeToFiveBytes) {
    EXPECT_EQ(Decode({ESC, 0x24, 0x29, 0x42, LS1, 0x30, 0x21}), kAi);        // ESC $ ) B
    EXPECT_EQ(Decode({ESC, 0x24, 0x2A, 0x20, 0x42, SS2, 0x30, 0x21}), kAi);  // ESC $ * SP B
    EXPECT_EQ(Decode({ESC, 0x28, 0x4A, ESC, 0x24, 0x28, 0x20, 0x42, 0x30, 0x21}), kAi);
    // ESC $ ( without the SP designates nothing and takes two bytes: "( B" is then a Kanji
    // code of its own (row 8, cell 34).
    EXPECT_EQ(Decode({ESC, 0x24, 0x28, 0x42}), "\x84\xC0");
    // Kanji in G3, G3 into GR: 0xB0 0xA1 runs through the arithmetic unchanged (low 8 bits).
    EXPECT_EQ(Decode({ESC, 0x24, 0x2B, 0x42, ESC, 0x7C, 0xB0, 0xA1}), "\x08\x1F");
}

TEST(AribText, UnknownEscapesAndFinalsChangeNothing) {
    EXPECT_EQ(Decode({ESC, 0x41, 0x30, 0x21}), kAi) << "unlisted escape takes two bytes";
    EXPECT_EQ(Decode({ESC, 0x28, 0x40, 0x30, 0x21}), kAi) << "DRCS-0 final";
    EXPECT_EQ(Decode({ESC, 0x28, 0x20, 0x41, 0x30, 0x21}), kAi) << "DRCS-1 final, SP form";
    EXPECT_EQ(Decode({ESC, 0x28, 0x70, 0x30, 0x21}), kAi) << "macro final";
    EXPECT_EQ(Decode({ESC, 0x24, 0x29, 0x20, 0x40, LS1, 0x41}), "\x82\x60");
}

TEST(AribText, SingleShiftDecodesOneCharacterAndLeavesGlAlone) {
    EXPECT_EQ(Decode({SS2, 0x21}), "\x82\x9F");                    // ぁ
    EXPECT_EQ(Decode({SS2, 0x21, 0x30, 0x21}), "\x82\x9F" + kAi);  // GL is still G0
    EXPECT_EQ(Decode({SS3, 0x21, 0x30, 0x21}), "\x83\x40" + kAi);  // ァ
    // A two-byte set in G2 takes two code bytes after the shift.
    EXPECT_EQ(Decode({ESC, 0x2A, 0x42, SS2, 0x30, 0x21}), kAi);
    // A shifted byte above seven bits has no entry in a one-byte table...
    EXPECT_EQ(Decode({SS2, 0xA1, 0x30, 0x21}), kAi);
    EXPECT_EQ(Decode({SS3, 0xFF, 0x30, 0x21}), kAi);
    EXPECT_EQ(Decode({SS2, 0x80, 0x30, 0x21}), kAi);
    // ...while a two-byte set takes both bytes through its arithmetic, as it does from GR
    // (where G2 sits by default); no mark has such a code.
    for (const auto& [final_byte, want] : {std::pair<uint8_t, std::string>{0x42, "\x08\x1F"},
                                           {0x39, "\x08\x1F"},
                                           {0x3A, "\x08\x1F"},
                                           {0x3B, ""}}) {
        EXPECT_EQ(Decode({ESC, 0x24, 0x2A, final_byte, SS2, 0xB0, 0xA1, 0x30, 0x21}), want + kAi)
            << int{final_byte};
        EXPECT_EQ(Decode({ESC, 0x24, 0x2A, final_byte, 0xB0, 0xA1}), want) << int{final_byte};
    }
}

TEST(AribText, ControlCodesProduceNothingAndKeepTheirParameterBytes) {
    EXPECT_EQ(Decode({0x20}), "");
    EXPECT_EQ(Decode({0x0D}), "");
    EXPECT_EQ(Decode({0x30, 0x21, 0x20, 0x0D, 0x0A, 0x7F, 0x30, 0x21}), kAi + kAi);
    for (unsigned c = 0x7F; c <= 0xA0; ++c) {
        EXPECT_EQ(Decode({static_cast<uint8_t>(c), 0x30, 0x21}), kAi) << c;
    }
    for (unsigned c = 0x01; c <= 0x20; ++c) {
        if (c == ESC || c == LS0 || c == LS1 || c == SS2 || c == SS3) {
            continue;
        }
        EXPECT_EQ(Decode({static_cast<uint8_t>(c), 0x30, 0x21}), kAi) << c;
    }
    // MSZ, then COL with its parameter: the parameter 0x50 is a Kanji lead of its own.
    EXPECT_EQ(Decode({0x89, 0x90, 0x50, 0x21}), "\x98\x9F");
}

TEST(AribText, AlphanumericSetIsFullWidthAsciiWithFiveExceptions) {
    EXPECT_EQ(Decode({LS1, 0x22}), "\x81\x68");  // ”
    EXPECT_EQ(Decode({LS1, 0x27}), "\x81\x66");  // ’
    EXPECT_EQ(Decode({LS1, 0x5C}), "\x81\x8F");  // ￥
    EXPECT_EQ(Decode({LS1, 0x60}), kSpace);
    EXPECT_EQ(Decode({LS1, 0x7E}), "\x81\x50");  // ￣
    for (unsigned code = 0x21; code <= 0x7E; ++code) {
        if (code == 0x22 || code == 0x27 || code == 0x5C || code == 0x60 || code == 0x7E) {
            continue;
        }
        // The full-width forms sit at U+FF01 onwards in ASCII order.
        EXPECT_EQ(DecodeToUtf8({LS1, static_cast<uint8_t>(code)}), Utf8(0xFF01 + code - 0x21))
            << code;
        // The same code through GR.
        EXPECT_EQ(DecodeToUtf8({ESC, 0x7E, static_cast<uint8_t>(code | 0x80)}),
                  Utf8(0xFF01 + code - 0x21))
            << code;
    }
}

TEST(AribText, HiraganaComesThroughGrByDefaultInTheOrderOfItsJisRow) {
    EXPECT_EQ(DecodeToUtf8({0xA2, 0xA4, 0x30, 0x21}), "あい亜");
    EXPECT_EQ(Decode({0xF4, 0xF5, 0xF6}), kSpace + kSpace + kSpace);
    EXPECT_EQ(Decode({0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}),
              "\x81\x54\x81\x55\x81\x5B\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45");
    EXPECT_EQ(DecodeToUtf8({0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}), "ゝゞー。「」、・");
    for (unsigned code = 0x21; code <= 0x73; ++code) {
        EXPECT_EQ(DecodeToUtf8({static_cast<uint8_t>(code | 0x80)}), Utf8(0x3041 + code - 0x21))
            << code;
    }
    // Codes outside 0x21..0x7E show as the full-width space: 0xFF is code 0x7F, and a
    // single shift takes control values as codes.
    EXPECT_EQ(Decode({0xFF}), kSpace);
    EXPECT_EQ(Decode({SS2, 0x0D}), kSpace);
    EXPECT_EQ(Decode({SS2, 0x7F}), kSpace);
}

TEST(AribText, KatakanaTableSkipsTheMissingTrailByte) {
    EXPECT_EQ(Decode({SS3, 0x5F, SS3, 0x60}), "\x83\x7E\x83\x80");  // ミム: 0x837F is none
    EXPECT_EQ(DecodeToUtf8({ESC, 0x7C, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}),
              "ヽヾー。「」、・");
    for (unsigned code = 0x21; code <= 0x76; ++code) {
        EXPECT_EQ(DecodeToUtf8({SS3, static_cast<uint8_t>(code)}), Utf8(0x30A1 + code - 0x21))
            << code;
    }
}

TEST(AribText, AdditionalSymbolsGiveBracketedMarks) {
    EXPECT_EQ(Decode({ESC, 0x24, 0x3B, 0x7A, 0x56}), "[\x8E\x9A]");  // [字]
    EXPECT_EQ(Decode({ESC, 0x24, 0x3B, 0x7A, 0x52}), "");
    EXPECT_EQ(Decode({ESC, 0x24, 0x3B, 0x7A, 0x52, ESC, 0x24, 0x42, 0x30, 0x21}), kAi);
    // As broadcasters send them: symbols in G3, one mark by single shift, then Kanji again.
    EXPECT_EQ(DecodeToUtf8({0x30, 0x21, ESC, 0x24, 0x2B, 0x3B, SS3, 0x7A, 0x50, 0x30, 0x21}),
              "亜[HV]亜");
    const struct {
        uint8_t cell;
        const char* text;
    } kExpected[] = {
        {0x50, "[HV]"}, {0x51, "[SD]"}, {0x56, "[字]"}, {0x57, "[双]"},  {0x58, "[デ]"},
        {0x59, "[Ｓ]"}, {0x5A, "[二]"}, {0x5B, "[多]"}, {0x5D, "[SS]"},  {0x5F, "[Ｎ]"},
        {0x60, "[■]"},  {0x61, "[●]"},  {0x62, "[天]"}, {0x64, "[映]"},  {0x65, "[無]"},
        {0x68, "[前]"}, {0x69, "[後]"}, {0x6A, "[再]"}, {0x6B, "[新]"},  {0x6D, "[終]"},
        {0x6E, "[生]"}, {0x70, "[声]"}, {0x71, "[吹]"}, {0x72, "[PPV]"},
    };
    int found = 0;
    for (unsigned cell = 0x21; cell <= 0x7E; ++cell) {
        const std::string got = DecodeToUtf8({ESC, 0x24, 0x3B, 0x7A, static_cast<uint8_t>(cell)});
        std::string want;
        for (const auto& e : kExpected) {
            if (e.cell == cell) {
                want = e.text;
                ++found;
            }
        }
        EXPECT_EQ(got, want) << cell;
    }
    EXPECT_EQ(found, 24);
    // The table is searched by the bytes as received, so from GR nothing matches.
    EXPECT_EQ(Decode({ESC, 0x24, 0x29, 0x3B, ESC, 0x7E, 0xFA, 0xD6}), "");
}

TEST(AribText, MosaicProportionalAndJisX0201SetsProduceNothing) {
    for (uint8_t final_byte : {0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x49}) {
        EXPECT_EQ(Decode({ESC, 0x28, final_byte, 0x41, 0x42, ESC, 0x24, 0x42, 0x30, 0x21}), kAi)
            << int{final_byte};
    }
}

TEST(AribText, RoomRuleKeepsWholeCharactersAndTheNul) {
    std::vector<char> thirty(30, '\x55');
    EXPECT_EQ(DecodeAribText(Repeat(kAiCode, 20), thirty), 28u);
    std::string fourteen;
    while (fourteen.size() < 28) {
        fourteen += kAi;
    }
    EXPECT_EQ(std::string(thirty.data(), 28), fourteen);
    EXPECT_EQ(thirty[28], '\0');
    EXPECT_EQ(thirty[29], '\x55') << "nothing is written after the NUL";

    const Bytes long_text = Repeat(kAiCode, 100);
    for (const auto& [size, longest] :
         {std::pair<size_t, size_t>{21, 18}, {81, 78}, {161, 158}, {4, 2}, {3, 0}, {2, 0}}) {
        EXPECT_EQ(Decode(long_text, size).size(), longest) << size;
    }
    // A mark that no longer fits is skipped, yet a shorter character after it still goes in.
    EXPECT_EQ(Decode({0x30, 0x21, ESC, 0x24, 0x3B, 0x7A, 0x56, ESC, 0x24, 0x42, 0x30, 0x21}, 6),
              kAi + kAi);
    // Tiny destinations get only the NUL.
    std::vector<char> one(1, '\x55');
    EXPECT_EQ(DecodeAribText(kAiCode, one), 0u);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(DecodeAribText(kAiCode, std::span<char>()), 0u);
}

TEST(AribText, NulEndsTheTextAndNoStateSurvivesBetweenCalls) {
    EXPECT_EQ(Decode({0x30, 0x21, 0x00, 0x30, 0x21}), kAi);
    EXPECT_EQ(Decode({0x00, 0x30, 0x21}), "");
    EXPECT_EQ(Decode({LS1, ESC, 0x7C, ESC, 0x28, 0x4A}), "");
    EXPECT_EQ(Decode({0x30, 0x21, 0xA2}), kAi + "\x82\xA0");
}

TEST(AribText, TruncatedInputNeverReadsPastItsLength) {
    const std::vector<Bytes> texts = {
        {0x30, 0x21, ESC, 0x24, 0x42, 0x30, 0x21},
        {0xA2, ESC, 0x24, 0x28, 0x20, 0x42, 0x30, 0x21},
        {0xA2, ESC, 0x24, 0x29, 0x20, 0x42, LS1, 0x30, 0x21},
        {0xA2, ESC, 0x24, 0x2A, 0x42, SS2, 0x30, 0x21},
        {0xA2, ESC, 0x28, 0x20, 0x4A, 0x41},
        {0xA2, ESC, 0x29, 0x4A, LS1, 0x41},
        {0xA2, ESC, 0x24, 0x3B, 0x7A, 0x56},
        {0xA2, SS3, 0x21, SS2, 0x22},
        {0xA2, ESC, 0x24, 0x2B, 0x3B, SS3, 0x7A, 0x56},
        {0xA2, ESC, 0x7C, 0xA2, ESC},
        // Cut after "ESC $ (", the "(" must not come out as an alphanumeric character.
        {LS1, 0x41, ESC, 0x24, 0x28, 0x20, 0x42, 0x30, 0x21},
    };
    for (const Bytes& text : texts) {
        const std::string full = Decode(text);
        for (size_t n = text.size() + 1; n-- > 0;) {
            // An exactly sized copy, so that the sanitizer sees any read beyond it.
            auto copy = std::make_unique<uint8_t[]>(n == 0 ? 1 : n);
            std::copy_n(text.begin(), n, copy.get());
            std::vector<char> destination(64, '\x55');
            const size_t length = DecodeAribText({copy.get(), n}, destination);
            const std::string got(destination.data(), length);
            EXPECT_EQ(full.substr(0, got.size()), got) << "prefix of " << n << " bytes";
            EXPECT_EQ(destination[length], '\0');
        }
    }
}

}  // namespace
}  // namespace tavrel
