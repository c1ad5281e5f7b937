#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavrel::testing {

// A parsed JSON value, for tests that read the command's reports. Strict: anything that is
// not valid JSON makes Parse return nothing.
struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    double Number() const { return std::get<double>(value); }
    int64_t Int() const { return static_cast<int64_t>(std::get<double>(value)); }
    const std::string& Str() const { return std::get<std::string>(value); }
    bool Bool() const { return std::get<bool>(value); }
    const Array& Arr() const { return std::get<Array>(value); }
    const Object& Obj() const { return std::get<Object>(value); }
    const JsonValue& operator[](const std::string& key) const { return Obj().at(key); }
    const JsonValue& operator[](size_t i) const { return Arr().at(i); }
    bool Has(const std::string& key) const { return Obj().contains(key); }

    static std::optional<JsonValue> Parse(std::string_view text);
};

}  // namespace tavrel::testing
