#include "platform/text_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace tavrel {
namespace {

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";  // U+FFFD

// One iconv descriptor per thread and direction: a descriptor keeps state and must not be
// shared, and opening one for every short name would cost more than the conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return cd_; }
    void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

// How many bytes one bad Shift_JIS character covers. As browsers do it: a lead byte
// followed by a trail byte outside ASCII is one unassigned character; otherwise only the
// lead is bad and an ASCII byte after it is kept.
size_t BadShiftJisLength(std::string_view rest) {
    if (IsShiftJisLeadByte(static_cast<uint8_t>(rest[0])) && rest.size() >= 2) {
        const auto trail = static_cast<uint8_t>(rest[1]);
        if (trail >= 0x80 && trail <= 0xFC) {
            return 2;
        }
    }
    return 1;
}

// How many bytes one bad UTF-8 character covers: a whole well-formed sequence (a character
// the target lacks) or the longest prefix of one that could still have been well-formed.
size_t BadUtf8Length(std::string_view rest) {
    const auto b0 = static_cast<uint8_t>(rest[0]);
    size_t need = 0;
    uint8_t lo = 0x80;
    uint8_t hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 1;
    }
    size_t i = 1;
    for (; i <= need && i < rest.size(); ++i) {
        const auto c = static_cast<uint8_t>(rest[i]);
        if (c < lo || c > hi) {
            break;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return i;
}

using BadLength = size_t (*)(std::string_view);

std::string Convert(Converter& converter, std::string_view in, std::string_view replacement,
                    BadLength bad_length) {
    std::string out;
    out.reserve(in.size() * 3 / 2 + 4);
    if (!converter.Valid()) {
        // Without the converter module only ASCII, which both forms share, survives.
        for (size_t i = 0; i < in.size();) {
            if (static_cast<uint8_t>(in[i]) < 0x80) {
                out += in[i++];
            } else {
                out += replacement;
                i += std::min(bad_length(in.substr(i)), in.size() - i);
            }
        }
        return out;
    }
    converter.Reset();
    // iconv takes a non-const input pointer but does not write through it.
    char* in_ptr = const_cast<char*>(in.data());
    size_t in_left = in.size();
    std::array<char, 1024> buffer;
    while (in_left > 0) {
        char* out_ptr = buffer.data();
        size_t out_left = buffer.size();
        const size_t result = iconv(converter.Get(), &in_ptr, &in_left, &out_ptr, &out_left);
        const int error = errno;
        out.append(buffer.data(), static_cast<size_t>(out_ptr - buffer.data()));
        if (result != static_cast<size_t>(-1) || error == E2BIG) {
            continue;
        }
        // EILSEQ (invalid or unconvertible) or EINVAL (cut short at the end).
        out += replacement;
        const size_t skip = std::min(bad_length(std::string_view(in_ptr, in_left)), in_left);
        in_ptr += skip;
        in_left -= skip;
        converter.Reset();
    }
    return out;
}

}  // namespace

std::string ShiftJisToUtf8(std::string_view sjis) {
    thread_local Converter converter("UTF-8", "CP932");
    return Convert(converter, sjis, kUtf8Replacement, BadShiftJisLength);
}

std::string Utf8ToShiftJis(std::string_view utf8, std::string_view replacement) {
    thread_local Converter converter("CP932", "UTF-8");
    return Convert(converter, utf8, replacement, BadUtf8Length);
}

std::string ShiftJisBufferToUtf8(std::span<const char> buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return ShiftJisToUtf8(
        std::string_view(buffer.data(), static_cast<size_t>(end - buffer.begin())));
}

size_t ShiftJisFittingLength(std::string_view text, size_t room) {
    size_t length = 0;
    while (length < text.size() && text[length] != '\0') {
        const bool lead = IsShiftJisLeadByte(static_cast<uint8_t>(text[length]));
        if (lead && (length + 1 == text.size() || text[length + 1] == '\0')) {
            break;
        }
        const size_t width = lead ? 2 : 1;
        if (length + width > room) {
            break;
        }
        length += width;
    }
    return length;
}

}  // namespace tavrel
