#include "ts/arib_text.h"

#include <array>
#include <optional>
#include <utility>

#include "ts/byte_reader.h"

namespace tavrel {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kLockingShift0 = 0x0F;  // GL <- G0
constexpr uint8_t kLockingShift1 = 0x0E;  // GL <- G1
constexpr uint8_t kSingleShift2 = 0x19;
constexpr uint8_t kSingleShift3 = 0x1D;
constexpr uint8_t kDrcsIntermediate = 0x20;
constexpr uint16_t kFullWidthSpace = 0x8140;

using Table = std::array<uint16_t, 128>;

// Codes below 0x21 and 0x7F of every table show as a full-width space.
constexpr Table BlankTable() {
    Table t{};
    for (auto& entry : t) {
        entry = kFullWidthSpace;
    }
    return t;
}

constexpr Table AlphanumericTable() {
    Table t = BlankTable();
    for (unsigned c = '0'; c <= '9'; ++c) {
        t[c] = static_cast<uint16_t>(0x824F + c - '0');  // ０ to ９
    }
    for (unsigned c = 'A'; c <= 'Z'; ++c) {
        t[c] = static_cast<uint16_t>(0x8260 + c - 'A');  // Ａ to Ｚ
    }
    for (unsigned c = 'a'; c <= 'z'; ++c) {
        t[c] = static_cast<uint16_t>(0x8281 + c - 'a');  // ａ to ｚ
    }
    // The symbols' full-width forms are scattered over JIS row 1. The set follows JIS X 0201
    // Roman, hence the yen sign at 0x5C and the overline at 0x7E; the quotes at 0x22 and 0x27
    // and the blank at 0x60 are how receivers show those codes.
    constexpr std::array<std::pair<char, uint16_t>, 32> kSymbols = {{
        {'!', 0x8149},  {'"', 0x8168}, {'#', 0x8194}, {'$', 0x8190}, {'%', 0x8193}, {'&', 0x8195},
        {'\'', 0x8166}, {'(', 0x8169}, {')', 0x816A}, {'*', 0x8196}, {'+', 0x817B}, {',', 0x8143},
        {'-', 0x817C},  {'.', 0x8144}, {'/', 0x815E}, {':', 0x8146}, {';', 0x8147}, {'<', 0x8183},
        {'=', 0x8181},  {'>', 0x8184}, {'?', 0x8148}, {'@', 0x8197}, {'[', 0x816D}, {'\\', 0x818F},
        {']', 0x816E},  {'^', 0x814F}, {'_', 0x8151}, {'`', 0x8140}, {'{', 0x816F}, {'|', 0x8162},
        {'}', 0x8170},  {'~', 0x8150},
    }};
    for (const auto& [c, sjis] : kSymbols) {
        t[static_cast<size_t>(c)] = sjis;
    }
    return t;
}

// Codes 0x79 to 0x7E are the same punctuation in both kana sets.
constexpr std::array<uint16_t, 6> kKanaPunctuation = {
    0x815B, 0x8142, 0x8175, 0x8176, 0x8141, 0x8145,  // ー 。 「 」 、 ・
};

constexpr Table HiraganaTable() {
    Table t = BlankTable();
    for (unsigned code = 0x21; code <= 0x73; ++code) {
        t[code] = static_cast<uint16_t>(0x829F + code - 0x21);  // ぁ to ん
    }
    t[0x77] = 0x8154;  // ゝ
    t[0x78] = 0x8155;  // ゞ
    for (size_t i = 0; i < kKanaPunctuation.size(); ++i) {
        t[0x79 + i] = kKanaPunctuation[i];
    }
    return t;
}

constexpr Table KatakanaTable() {
    Table t = BlankTable();
    for (unsigned code = 0x21; code <= 0x76; ++code) {
        // Shift_JIS has no trail byte 0x7F, so the row jumps over it after ミ.
        t[code] = static_cast<uint16_t>(0x8340 + code - 0x21 + (code >= 0x60 ? 1 : 0));
    }
    t[0x77] = 0x8152;  // ヽ
    t[0x78] = 0x8153;  // ヾ
    for (size_t i = 0; i < kKanaPunctuation.size(); ++i) {
        t[0x79 + i] = kKanaPunctuation[i];
    }
    return t;
}

constexpr Table kAlphanumeric = AlphanumericTable();
constexpr Table kHiragana = HiraganaTable();
constexpr Table kKatakana = KatakanaTable();

// Shift_JIS texts: the brackets are ASCII, the letters inside as the receivers print them.
// clang-format off
constexpr std::array<AribMark, 24> kMarks = {{
    {0x7A50, "[HV]"},
    {0x7A51, "[SD]"},
    {0x7A56, "[\x8E\x9A]"},  // [字]
    {0x7A57, "[\x91\x6F]"},  // [双]
    {0x7A58, "[\x83\x66]"},  // [デ]
    {0x7A59, "[\x82\x72]"},  // [Ｓ]
    {0x7A5A, "[\x93\xF1]"},  // [二]
    {0x7A5B, "[\x91\xBD]"},  // [多]
    {0x7A5D, "[SS]"},
    {0x7A5F, "[\x82\x6D]"},  // [Ｎ]
    {0x7A60, "[\x81\xA1]"},  // [■]
    {0x7A61, "[\x81\x9C]"},  // [●]
    {0x7A62, "[\x93\x56]"},  // [天]
    {0x7A64, "[\x89\x66]"},  // [映]
    {0x7A65, "[\x96\xB3]"},  // [無]
    {0x7A68, "[\x91\x4F]"},  // [前]
    {0x7A69, "[\x8C\xE3]"},  // [後]
    {0x7A6A, "[\x8D\xC4]"},  // [再]
    {0x7A6B, "[\x90\x56]"},  // [新]
    {0x7A6D, "[\x8F\x49]"},  // [終]
    {0x7A6E, "[\x90\xB6]"},  // [生]
    {0x7A70, "[\x90\xBA]"},  // [声]
    {0x7A71, "[\x90\x81]"},  // [吹]
    {0x7A72, "[PPV]"},
}};
// clang-format on

// Final bytes of the designations we know; any other (DRCS, macros) leaves the register as
// it was, since nothing in it could be shown.
constexpr std::array<std::pair<uint8_t, AribCodeSet>, 15> kFinals = {{
    {0x42, AribCodeSet::kKanji},
    {0x4A, AribCodeSet::kAlphanumeric},
    {0x30, AribCodeSet::kHiragana},
    {0x31, AribCodeSet::kKatakana},
    {0x32, AribCodeSet::kMosaicA},
    {0x33, AribCodeSet::kMosaicB},
    {0x34, AribCodeSet::kMosaicC},
    {0x35, AribCodeSet::kMosaicD},
    {0x36, AribCodeSet::kProportionalAlphanumeric},
    {0x37, AribCodeSet::kProportionalHiragana},
    {0x38, AribCodeSet::kProportionalKatakana},
    {0x49, AribCodeSet::kJisX0201Katakana},
    {0x39, AribCodeSet::kJisKanjiPlane1},
    {0x3A, AribCodeSet::kJisKanjiPlane2},
    {0x3B, AribCodeSet::kAdditionalSymbols},
}};

std::optional<AribCodeSet> SetOfFinal(uint8_t final_byte) {
    for (const auto& [f, set] : kFinals) {
        if (f == final_byte) {
            return set;
        }
    }
    return std::nullopt;
}

bool IsKanjiType(AribCodeSet set) {
    return set == AribCodeSet::kKanji || set == AribCodeSet::kJisKanjiPlane1 ||
           set == AribCodeSet::kJisKanjiPlane2;
}

size_t WidthOf(AribCodeSet set) {
    return IsKanjiType(set) || set == AribCodeSet::kAdditionalSymbols ? 2 : 1;
}

const Table* TableOf(AribCodeSet set) {
    switch (set) {
        case AribCodeSet::kAlphanumeric:
            return &kAlphanumeric;
        case AribCodeSet::kHiragana:
            return &kHiragana;
        case AribCodeSet::kKatakana:
            return &kKatakana;
        default:
            return nullptr;
    }
}

// One call's worth of decoder state: the registers start over for every text.
class Decoder {
public:
    explicit Decoder(std::span<char> destination) : out_(destination) {}

    size_t Run(ByteReader in) {
        while (in.More()) {
            const uint8_t b = in.Peek();
            if (b == 0x00) {
                break;
            }
            const size_t used = Step(in, b);
            if (used == 0) {
                break;  // a sequence runs past the end of the source
            }
            in.Skip(used);
        }
        if (!out_.empty()) {
            out_[length_ < out_.size() ? length_ : out_.size() - 1] = '\0';
        }
        return length_;
    }

private:
    // Handles the code at the reader's position without moving it; returns how many bytes
    // it takes, or 0 when they are not all there.
    size_t Step(const ByteReader& in, uint8_t b) {
        if (b == kEsc) {
            return Escape(in);
        }
        if (b == kLockingShift0 || b == kLockingShift1) {
            gl_ = b == kLockingShift0 ? 0 : 1;
            return 1;
        }
        if (b == kSingleShift2 || b == kSingleShift3) {
            return SingleShift(in, g_[b == kSingleShift2 ? 2 : 3]);
        }
        if (b <= 0x20 || (b >= 0x7F && b <= 0xA0)) {
            // Controls (their parameter bytes included) shape the screen, not the text.
            return 1;
        }
        const bool left = b < 0x80;
        const AribCodeSet set = g_[left ? gl_ : gr_];
        const size_t width = WidthOf(set);
        if (!in.Has(width)) {
            return 0;
        }
        // Two-byte sets take the raw bytes even from GR; only the tables fold GR onto GL.
        const uint8_t c1 = width == 2 || left ? b : static_cast<uint8_t>(b - 0x80);
        Character(set, c1, width == 2 ? in.Peek(1) : uint8_t{0});
        return width;
    }

    size_t Escape(const ByteReader& in) {
        // Byte i of the sequence, counting the ESC as 0, exists when the reader has i + 1.
        const auto has = [&in](size_t i) { return in.Has(i + 1); };
        if (!has(1)) {
            return 0;
        }
        const uint8_t s1 = in.Peek(1);
        if (s1 >= 0x28 && s1 <= 0x2B) {  // one-byte set into G0..G3
            if (!has(2)) {
                return 0;
            }
            if (in.Peek(2) == kDrcsIntermediate) {
                if (!has(3)) {
                    return 0;
                }
                Designate(s1 - 0x28, in.Peek(3));
                return 4;
            }
            Designate(s1 - 0x28, in.Peek(2));
            return 3;
        }
        if (s1 == 0x24) {  // two-byte sets
            if (!has(2)) {
                return 0;
            }
            const uint8_t s2 = in.Peek(2);
            if (s2 >= 0x29 && s2 <= 0x2B) {
                if (!has(3)) {
                    return 0;
                }
                if (in.Peek(3) == kDrcsIntermediate) {
                    if (!has(4)) {
                        return 0;
                    }
                    Designate(s2 - 0x28, in.Peek(4));
                    return 5;
                }
                Designate(s2 - 0x28, in.Peek(3));
                return 4;
            }
            if (s2 == 0x28) {
                if (!has(3)) {
                    return 0;  // whether an SP follows is unknown: the sequence is cut
                }
                if (in.Peek(3) == kDrcsIntermediate) {
                    if (!has(4)) {
                        return 0;
                    }
                    Designate(0, in.Peek(4));
                    return 5;
                }
                return 2;
            }
            Designate(0, s2);
            return 3;
        }
        switch (s1) {
            case 0x6E:
                gl_ = 2;
                break;
            case 0x6F:
                gl_ = 3;
                break;
            case 0x7E:
                gr_ = 1;
                break;
            case 0x7D:
                gr_ = 2;
                break;
            case 0x7C:
                gr_ = 3;
                break;
            default:
                break;
        }
        return 2;
    }

    size_t SingleShift(const ByteReader& in, AribCodeSet set) {
        const size_t width = WidthOf(set);
        if (!in.Has(1 + width)) {
            return 0;
        }
        // The byte is the code as it stands: a two-byte set takes it through its arithmetic
        // like a GR byte, a one-byte table has no entry above 0x7F and yields nothing.
        Character(set, in.Peek(1), width == 2 ? in.Peek(2) : uint8_t{0});
        return 1 + width;
    }

    void Designate(int reg, uint8_t final_byte) {
        if (const auto set = SetOfFinal(final_byte)) {
            g_[static_cast<size_t>(reg)] = *set;
        }
    }

    void Character(AribCodeSet set, uint8_t c1, uint8_t c2) {
        if (IsKanjiType(set)) {
            const unsigned lead = (c1 + 1u) / 2 + (c1 < 0x5F ? 0x70u : 0xB0u);
            unsigned trail = c2 + ((c1 & 1) != 0 ? 0x1Fu : 0x7Du);
            if (trail > 0x7E) {
                ++trail;  // Shift_JIS trail bytes skip 0x7F
            }
            const char bytes[2] = {static_cast<char>(lead & 0xFF), static_cast<char>(trail & 0xFF)};
            Put(bytes);
        } else if (const Table* table = TableOf(set)) {
            if (c1 < table->size()) {
                const uint16_t sjis = (*table)[c1];
                const char bytes[2] = {static_cast<char>(sjis >> 8),
                                       static_cast<char>(sjis & 0xFF)};
                Put(bytes);
            }
        } else if (set == AribCodeSet::kAdditionalSymbols) {
            const uint16_t code = static_cast<uint16_t>(c1 << 8 | c2);
            for (const AribMark& mark : kMarks) {
                if (mark.code == code) {
                    Put(mark.text);
                    break;
                }
            }
        }
        // Mosaics, proportional and JIS X 0201 sets have no place in a name: nothing.
    }

    // Writes a whole character or, when it and the NUL do not fit, nothing at all.
    void Put(std::span<const char> bytes) {
        if (length_ + bytes.size() + 1 < out_.size()) {
            for (const char c : bytes) {
                out_[length_++] = c;
            }
        }
    }

    std::array<AribCodeSet, 4> g_ = {AribCodeSet::kKanji, AribCodeSet::kAlphanumeric,
                                     AribCodeSet::kHiragana, AribCodeSet::kKatakana};
    size_t gl_ = 0;
    size_t gr_ = 2;
    std::span<char> out_;
    size_t length_ = 0;
};

}  // namespace

size_t DecodeAribText(std::span<const uint8_t> source, std::span<char> destination) {
    return Decoder(destination).Run(ByteReader(source));
}

uint16_t AribTableCharacter(AribCodeSet set, uint8_t code) {
    const Table* table = TableOf(set);
    return table != nullptr && code < table->size() ? (*table)[code] : uint16_t{0};
}

std::span<const AribMark> AribMarks() {
    return kMarks;
}

}  // namespace tavrel
