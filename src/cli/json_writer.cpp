#include "cli/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tavrel::cli {

std::string JsonWriter::Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<uint8_t>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\u%04x", c);
                        out += buf;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // Copy one well-formed UTF-8 sequence, or replace the offending byte.
        size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool ok = n != 0 && i + n <= s.size();
        for (size_t k = 1; ok && k < n; ++k) {
            ok = (static_cast<uint8_t>(s[i + k]) & 0xC0) == 0x80;
        }
        if (ok) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

void JsonWriter::Indent() {
    out_ += '\n';
    out_.append(first_.size() * 2, ' ');
}

void JsonWriter::Prefix(std::string_view key) {
    if (!first_.empty()) {
        if (!first_.back()) {
            out_ += ',';
        }
        first_.back() = false;
        Indent();
    }
    if (!key.empty()) {
        out_ += '"';
        out_ += Escape(key);
        out_ += "\": ";
    }
}

void JsonWriter::BeginObject(std::string_view key) {
    Prefix(key);
    out_ += '{';
    first_.push_back(true);
}

void JsonWriter::EndObject() {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
        Indent();
    }
    out_ += '}';
    if (first_.empty()) {
        out_ += '\n';
    }
}

void JsonWriter::BeginArray(std::string_view key) {
    Prefix(key);
    out_ += '[';
    first_.push_back(true);
}

void JsonWriter::EndArray() {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
        Indent();
    }
    out_ += ']';
}

void JsonWriter::String(std::string_view key, std::string_view value) {
    Prefix(key);
    out_ += '"';
    out_ += Escape(value);
    out_ += '"';
}

void JsonWriter::Number(std::string_view key, int64_t value) {
    Prefix(key);
    out_ += std::to_string(value);
}

void JsonWriter::Number(std::string_view key, double value) {
    Prefix(key);
    if (!std::isfinite(value)) {
        out_ += "null";
        return;
    }
    // The shortest text that reads back as the same double: 11727.48 stays 11727.48. No
    // double needs more than 24 characters.
    char buf[32];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

void JsonWriter::Bool(std::string_view key, bool value) {
    Prefix(key);
    out_ += value ? "true" : "false";
}

void JsonWriter::Null(std::string_view key) {
    Prefix(key);
    out_ += "null";
}

}  // namespace tavrel::cli
