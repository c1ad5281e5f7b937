// Our decoder against an independent one, libaribb24 (which decodes to UTF-8), on text where
// both must agree: Kanji, kana and letters and digits of the alphanumeric set.
//
// Where they part on purpose, and why, so these are left out:
// - Programme marks: the library gives the enclosed ideographs of Unicode (U+1F211 for 字);
//   Shift_JIS has none, so we spell them out in brackets ("[字]").
// - The space code 0x20: the library shows a space; we drop it with the other controls.
// - Width: we always give full-width forms, since our records are full-width Shift_JIS; the
//   library's output follows the character size controls it tracks, which we ignore.
// - Alphanumeric codes 0x22, 0x27, 0x5C, 0x60 and 0x7E: the glyphs differ by design (our
//   ” ’ ￥, a blank and ￣).
// - Row 1 and 2 symbols such as the wave dash: code page 932 maps some JIS symbols to other
//   Unicode characters (U+FF5E) than the JIS mapping the library uses (U+301C).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_encoding.h"
#include "sim/arib_text_writer.h"
#include "ts/arib_text.h"

#if TAVREL_HAVE_ARIBB24
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}
#endif

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t ESC = 0x1B;

std::string Ours(const Bytes& arib) {
    std::vector<char> destination(arib.size() * 3 + 16);
    const size_t length = DecodeAribText(arib, destination);
    return ShiftJisToUtf8(std::string_view(destination.data(), length));
}

#if TAVREL_HAVE_ARIBB24
constexpr bool kHaveWitness = true;
std::string Theirs(const Bytes& arib) {
    arib_instance_t* instance = arib_instance_new(nullptr);
    arib_decoder_t* decoder = arib_get_decoder(instance);
    arib_initialize_decoder(decoder);
    std::vector<char> out(arib.size() * 8 + 16);
    const size_t length =
        arib_decode_buffer(decoder, arib.data(), arib.size(), out.data(), out.size());
    arib_finalize_decoder(decoder);
    arib_instance_destroy(instance);
    return std::string(out.data(), length);
}
#else
constexpr bool kHaveWitness = false;
std::string Theirs(const Bytes&) {
    return {};
}
#endif

TEST(AribTextWitness, AgreesOnLiteralVectors) {
    if (!kHaveWitness) {
        GTEST_SKIP() << "libaribb24 is not installed (Debian: libaribb24-dev)";
    }
    const std::vector<Bytes> vectors = {
        {0x30, 0x21},                                            // Kanji from the default G0
        {ESC, 0x24, 0x42, 0x46, 0x7C, 0x4B, 0x5C},               // ESC $ B, then 日本
        {0xA2, 0xA4, 0xA6},                                      // hiragana through GR
        {ESC, 0x7C, 0xA2, 0xC6, 0xEC, 0xD3},                     // LS3R: katakana through GR
        {0x0E, 0x41, 0x42, 0x43, 0x31, 0x32, 0x0F, 0x30, 0x21},  // LS1 letters, LS0 Kanji
        {0x19, 0x21, 0x1D, 0x21, 0x30, 0x21},                    // single shifts
        {ESC, 0x6F, 0x22, 0x23, ESC, 0x6E, 0x22},                // LS3 and LS2 into GL
        {ESC, 0x29, 0x30, 0x0E, 0x22, 0x0F, 0x30, 0x21},         // ESC ) 0: hiragana into G1
        {0x50, 0x21, 0x74, 0x26},                                // 弌 and 熙, level 2 Kanji
    };
    for (const Bytes& v : vectors) {
        EXPECT_EQ(Ours(v), Theirs(v));
    }
}

TEST(AribTextWitness, AgreesOnEncodedRandomText) {
    if (!kHaveWitness) {
        GTEST_SKIP() << "libaribb24 is not installed (Debian: libaribb24-dev)";
    }
    std::mt19937 random(24);
    std::vector<Bytes> pieces;  // single characters as ARIB codes, in the default state
    for (unsigned code = 0xA1; code <= 0xF3; ++code) {
        pieces.push_back({static_cast<uint8_t>(code)});  // hiragana
    }
    for (unsigned code = 0x21; code <= 0x76; ++code) {
        pieces.push_back({0x1D, static_cast<uint8_t>(code)});  // katakana by single shift
    }
    for (const char c :
         std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")) {
        pieces.push_back({0x0E, static_cast<uint8_t>(c), 0x0F});  // LS1, letter or digit, LS0
    }
    while (pieces.size() < 700) {  // Kanji of levels 1 and 2: rows 16 to 83
        const auto row =
            static_cast<uint8_t>(std::uniform_int_distribution<int>(0x30, 0x73)(random));
        const auto cell =
            static_cast<uint8_t>(std::uniform_int_distribution<int>(0x21, 0x7E)(random));
        if (row == 0x4F && cell > 0x53) {
            continue;  // the end of level 1 is unassigned
        }
        pieces.push_back({row, cell});
    }
    for (int text = 0; text < 300; ++text) {
        Bytes arib;
        const int length = std::uniform_int_distribution<int>(1, 30)(random);
        for (int i = 0; i < length; ++i) {
            const Bytes& p =
                pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
            arib.insert(arib.end(), p.begin(), p.end());
        }
        ASSERT_EQ(Ours(arib), Theirs(arib)) << ::testing::PrintToString(arib);
    }
    // And what our own writer produces for names made of these characters.
    for (const char* name :
         {"ＮＨＫ総合", "テレビ東京", "ニュース７", "きょうの料理", "BS日テレ"}) {
        const Bytes arib = EncodeAribText(name);
        EXPECT_EQ(Ours(arib), Theirs(arib)) << name;
    }
}

}  // namespace
}  // namespace tavrel
