#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::cli {

// Writes one JSON document with two-space indentation. Keys and strings are escaped; strings
// must be UTF-8 (invalid bytes are written as U+FFFD so the output always parses).
class JsonWriter {
public:
    void BeginObject(std::string_view key = {});
    void EndObject();
    void BeginArray(std::string_view key = {});
    void EndArray();

    void String(std::string_view key, std::string_view value);
    void Number(std::string_view key, int64_t value);
    void Number(std::string_view key, double value);
    void Bool(std::string_view key, bool value);
    void Null(std::string_view key);
    template <typename T>
    void Optional(std::string_view key, const std::optional<T>& value) {
        if (value) {
            Value(key, *value);
        } else {
            Null(key);
        }
    }

    const std::string& Text() const { return out_; }

    static std::string Escape(std::string_view utf8);

private:
    void Value(std::string_view key, const std::string& v) { String(key, v); }
    void Value(std::string_view key, int64_t v) { Number(key, v); }
    void Value(std::string_view key, uint32_t v) { Number(key, int64_t{v}); }
    void Value(std::string_view key, uint16_t v) { Number(key, int64_t{v}); }
    void Value(std::string_view key, double v) { Number(key, v); }

    void Prefix(std::string_view key);
    void Indent();

    std::string out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
};

}  // namespace tavrel::cli
