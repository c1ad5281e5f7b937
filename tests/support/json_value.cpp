#include "support/json_value.h"

#include <nlohmann/json.hpp>

namespace tavrel::testing {
namespace {

JsonValue Convert(const nlohmann::json& j) {
    JsonValue v;
    if (j.is_boolean()) {
        v.value = j.get<bool>();
    } else if (j.is_number()) {
        v.value = j.get<double>();
    } else if (j.is_string()) {
        v.value = j.get<std::string>();
    } else if (j.is_array()) {
        JsonValue::Array a;
        for (const auto& e : j) {
            a.push_back(Convert(e));
        }
        v.value = std::move(a);
    } else if (j.is_object()) {
        JsonValue::Object o;
        for (const auto& [key, e] : j.items()) {
            o.emplace(key, Convert(e));
        }
        v.value = std::move(o);
    }
    return v;
}

}  // namespace

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        return std::nullopt;
    }
    return Convert(j);
}

}  // namespace tavrel::testing
