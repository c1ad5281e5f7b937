#include "sim/arib_text_writer.h"

#include <array>

#include "platform/text_encoding.h"
#include "ts/arib_text.h"

namespace tavrel {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kLockingShift0 = 0x0F;
constexpr uint8_t kLockingShift1 = 0x0E;
constexpr uint16_t kFullWidthSpace = 0x8140;

// Shift_JIS character -> code of a one-byte set, 0 where the set lacks it. Built from the
// decoder's own tables so that every code written reads back as the character it came from.
struct ReverseTable {
    explicit ReverseTable(AribCodeSet set) {
        for (uint8_t code = 0x21; code <= 0x7E; ++code) {
            const uint16_t sjis = AribTableCharacter(set, code);
            if (sjis != kFullWidthSpace && Find(sjis) == 0) {
                entries[code] = sjis;
            }
        }
    }
    uint8_t Find(uint16_t sjis) const {
        for (uint8_t code = 0x21; code <= 0x7E; ++code) {
            if (entries[code] == sjis) {
                return code;
            }
        }
        return 0;
    }
    std::array<uint16_t, 128> entries{};
};

bool IsLead(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrail(uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

class Encoder {
public:
    std::vector<uint8_t> Run(std::string_view sjis) {
        for (size_t i = 0; i < sjis.size();) {
            i += Next(sjis.substr(i));
        }
        return std::move(out_);
    }

private:
    // Encodes the character at the start of `rest`; returns how many bytes it took.
    size_t Next(std::string_view rest) {
        const auto b = static_cast<uint8_t>(rest[0]);
        if (b == '[') {
            for (const AribMark& mark : AribMarks()) {
                if (rest.starts_with(mark.text)) {
                    Mark(static_cast<uint8_t>(mark.code >> 8), static_cast<uint8_t>(mark.code));
                    return mark.text.size();
                }
            }
        }
        if (b == ' ') {
            Kanji(0x21, 0x21);  // full-width space
            return 1;
        }
        if (b >= 0x21 && b <= 0x7E) {
            Alphanumeric(b);  // the set is ASCII-coded
            return 1;
        }
        if (b < 0x20 || b == 0x7F) {
            return 1;
        }
        if (IsLead(b) && rest.size() >= 2 && IsTrail(static_cast<uint8_t>(rest[1]))) {
            DoubleByte(static_cast<uint16_t>(b << 8 | static_cast<uint8_t>(rest[1])));
            return 2;
        }
        Replacement();
        return 1;
    }

    void DoubleByte(uint16_t sjis) {
        static const ReverseTable hiragana(AribCodeSet::kHiragana);
        static const ReverseTable katakana(AribCodeSet::kKatakana);
        static const ReverseTable alphanumeric(AribCodeSet::kAlphanumeric);
        // Marks shared by both kana sets stay in whichever GR already shows.
        const ReverseTable& current = gr_katakana_ ? katakana : hiragana;
        if (const uint8_t code = current.Find(sjis)) {
            Right(gr_katakana_, code);
        } else if (const uint8_t h = hiragana.Find(sjis)) {
            Right(false, h);
        } else if (const uint8_t k = katakana.Find(sjis)) {
            Right(true, k);
        } else if (const uint8_t a = alphanumeric.Find(sjis)) {
            Alphanumeric(a);
        } else if (!ToJis(sjis)) {
            Replacement();
        }
    }

    // Shift_JIS to JIS X 0208 row and cell (each 0x21..0x7E); false outside JIS X 0208.
    bool ToJis(uint16_t sjis) {
        const unsigned lead = sjis >> 8;
        const unsigned trail = sjis & 0xFF;
        if (lead > 0xEF) {
            return false;  // vendor rows beyond row 94
        }
        unsigned row = (lead <= 0x9F ? lead - 0x70 : lead - 0xB0) * 2;
        unsigned cell = 0;
        if (trail >= 0x9F) {
            cell = trail - 0x7E;
        } else {
            row -= 1;
            cell = trail - (trail >= 0x80 ? 0x20 : 0x1F);
        }
        Kanji(static_cast<uint8_t>(row), static_cast<uint8_t>(cell));
        return true;
    }

    void Replacement() {
        const auto lead = static_cast<uint8_t>(kAribReplacement[0]);
        const auto trail = static_cast<uint8_t>(kAribReplacement[1]);
        ToJis(static_cast<uint16_t>(lead << 8 | trail));
    }

    void Kanji(uint8_t row, uint8_t cell) {
        InvokeG0();
        if (g0_symbols_) {
            Put({kEsc, 0x24, 0x42});  // ESC $ B: Kanji into G0
            g0_symbols_ = false;
        }
        Put({row, cell});
    }

    void Mark(uint8_t row, uint8_t cell) {
        InvokeG0();
        if (!g0_symbols_) {
            Put({kEsc, 0x24, 0x3B});  // ESC $ ;: additional symbols into G0
            g0_symbols_ = true;
        }
        Put({row, cell});
    }

    void Alphanumeric(uint8_t code) {
        if (!gl_alphanumeric_) {
            Put({kLockingShift1});
            gl_alphanumeric_ = true;
        }
        Put({code});
    }

    void Right(bool katakana, uint8_t code) {
        if (katakana != gr_katakana_) {
            Put({kEsc, static_cast<uint8_t>(katakana ? 0x7C : 0x7D)});  // LS3R / LS2R
            gr_katakana_ = katakana;
        }
        Put({static_cast<uint8_t>(code | 0x80)});
    }

    void InvokeG0() {
        if (gl_alphanumeric_) {
            Put({kLockingShift0});
            gl_alphanumeric_ = false;
        }
    }

    void Put(std::initializer_list<uint8_t> bytes) { out_.insert(out_.end(), bytes); }

    bool gl_alphanumeric_ = false;  // GL shows G1 rather than G0
    bool g0_symbols_ = false;       // G0 holds the additional symbols rather than Kanji
    bool gr_katakana_ = false;      // GR shows G3 rather than G2
    std::vector<uint8_t> out_;
};

}  // namespace

std::vector<uint8_t> EncodeAribTextFromShiftJis(std::string_view sjis) {
    return Encoder().Run(sjis);
}

std::vector<uint8_t> EncodeAribText(std::string_view utf8) {
    return EncodeAribTextFromShiftJis(Utf8ToShiftJis(utf8, kAribReplacement));
}

}  // namespace tavrel
