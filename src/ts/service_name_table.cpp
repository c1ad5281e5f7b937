#include "ts/service_name_table.h"

#include <algorithm>
#include <cstring>

namespace tavrel {
namespace {

bool IsLeadByte(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// How much of the Shift_JIS text fits into `room` bytes without splitting a character: a
// lone lead byte at the end would turn into garbage in every list that shows the name.
size_t FittingLength(const char* text, size_t room) {
    size_t length = 0;
    while (text[length] != '\0') {
        const bool lead = IsLeadByte(static_cast<uint8_t>(text[length]));
        if (lead && text[length + 1] == '\0') {
            break;  // a lead byte without its trail byte ends the text
        }
        const size_t width = lead ? 2 : 1;
        if (length + width > room) {
            break;
        }
        length += width;
    }
    return length;
}

}  // namespace

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
    const size_t length = FittingLength(it->second.data(), destination.size() - 1);
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
