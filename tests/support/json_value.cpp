#include "support/json_value.h"

#include <cstdlib>

namespace tavrel::testing {
namespace {

class Parser {
public:
    explicit Parser(std::string_view t) : t_(t) {}

    bool Value(JsonValue& out) {
        Space();
        if (i_ >= t_.size()) {
            return false;
        }
        const char c = t_[i_];
        if (c == '{') {
            return ObjectValue(out);
        }
        if (c == '[') {
            return ArrayValue(out);
        }
        if (c == '"') {
            std::string s;
            if (!String(s)) {
                return false;
            }
            out.value = std::move(s);
            return true;
        }
        if (Word("true")) {
            out.value = true;
            return true;
        }
        if (Word("false")) {
            out.value = false;
            return true;
        }
        if (Word("null")) {
            out.value = nullptr;
            return true;
        }
        return NumberValue(out);
    }

    bool AtEnd() {
        Space();
        return i_ == t_.size();
    }

private:
    void Space() {
        while (i_ < t_.size() &&
               (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) {
            ++i_;
        }
    }
    bool Word(std::string_view w) {
        if (t_.substr(i_, w.size()) == w) {
            i_ += w.size();
            return true;
        }
        return false;
    }
    bool NumberValue(JsonValue& out) {
        const size_t start = i_;
        if (i_ < t_.size() && t_[i_] == '-') {
            ++i_;
        }
        while (i_ < t_.size() &&
               (isdigit(static_cast<unsigned char>(t_[i_])) || t_[i_] == '.' || t_[i_] == 'e' ||
                t_[i_] == 'E' || t_[i_] == '+' || t_[i_] == '-')) {
            ++i_;
        }
        if (i_ == start) {
            return false;
        }
        const std::string text(t_.substr(start, i_ - start));
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) {
            return false;
        }
        out.value = v;
        return true;
    }
    bool String(std::string& s) {
        ++i_;  // opening quote
        while (i_ < t_.size()) {
            const char c = t_[i_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                s += c;
                continue;
            }
            if (i_ >= t_.size()) {
                return false;
            }
            const char e = t_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    s += e;
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'u': {
                    if (i_ + 4 > t_.size()) {
                        return false;
                    }
                    const unsigned long cp =
                        std::strtoul(std::string(t_.substr(i_, 4)).c_str(), nullptr, 16);
                    i_ += 4;
                    if (cp < 0x80) {
                        s += static_cast<char>(cp);
                    } else if (cp < 0x800) {
                        s += static_cast<char>(0xC0 | (cp >> 6));
                        s += static_cast<char>(0x80 | (cp & 0x3F));
                    } else {
                        s += static_cast<char>(0xE0 | (cp >> 12));
                        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                        s += static_cast<char>(0x80 | (cp & 0x3F));
                    }
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool ArrayValue(JsonValue& out) {
        ++i_;
        JsonValue::Array a;
        Space();
        if (i_ < t_.size() && t_[i_] == ']') {
            ++i_;
            out.value = std::move(a);
            return true;
        }
        for (;;) {
            JsonValue v;
            if (!Value(v)) {
                return false;
            }
            a.push_back(std::move(v));
            Space();
            if (i_ < t_.size() && t_[i_] == ',') {
                ++i_;
                continue;
            }
            if (i_ < t_.size() && t_[i_] == ']') {
                ++i_;
                out.value = std::move(a);
                return true;
            }
            return false;
        }
    }
    bool ObjectValue(JsonValue& out) {
        ++i_;
        JsonValue::Object o;
        Space();
        if (i_ < t_.size() && t_[i_] == '}') {
            ++i_;
            out.value = std::move(o);
            return true;
        }
        for (;;) {
            Space();
            std::string key;
            if (i_ >= t_.size() || t_[i_] != '"' || !String(key)) {
                return false;
            }
            Space();
            if (i_ >= t_.size() || t_[i_] != ':') {
                return false;
            }
            ++i_;
            JsonValue v;
            if (!Value(v) || o.contains(key)) {
                return false;
            }
            o.emplace(std::move(key), std::move(v));
            Space();
            if (i_ < t_.size() && t_[i_] == ',') {
                ++i_;
                continue;
            }
            if (i_ < t_.size() && t_[i_] == '}') {
                ++i_;
                out.value = std::move(o);
                return true;
            }
            return false;
        }
    }

    std::string_view t_;
    size_t i_ = 0;
};

}  // namespace

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
    Parser p(text);
    JsonValue v;
    if (!p.Value(v) || !p.AtEnd()) {
        return std::nullopt;
    }
    return v;
}

}  // namespace tavrel::testing
