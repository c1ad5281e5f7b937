#include "ts/service_name_table.h"

#include <algorithm>
#include <cstring>

#include "platform/text_encoding.h"

namespace tavrel {

void ServiceNameTable::Set(uint16_t service_id, std::span<const char> name) {
    Name stored{};
    const auto nul = std::find(name.begin(), name.end(), '\0');
    const size_t length = std::min(static_cast<size_t>(nul - name.begin()), kNameSize - 1);
    std::memcpy(stored.data(), name.data(), length);
    const std::lock_guard<std::mutex> hold(mutex_);
    names_[service_id] = stored;
}

int ServiceNameTable::Lookup(uint16_t service_id, std::span<char> destination) const {
    const std::lock_guard<std::mutex> hold(mutex_);
    const auto it = names_.find(service_id);
    if (it == names_.end()) {
        return 0;
    }
    if (destination.empty()) {
        return 1;  // known, but there is no room even for the NUL
    }
    const size_t length = ShiftJisFittingLength(
        std::string_view(it->second.data(), it->second.size()), destination.size() - 1);
    std::memcpy(destination.data(), it->second.data(), length);
    destination[length] = '\0';
    return 1;
}

void ServiceNameTable::Clear() {
    const std::lock_guard<std::mutex> hold(mutex_);
    names_.clear();
}

size_t ServiceNameTable::Size() const {
    const std::lock_guard<std::mutex> hold(mutex_);
    return names_.size();
}

}  // namespace tavrel
