#include "support/event_log.h"

namespace tavrel::testing {

void EventLog::Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
    auto* log = static_cast<EventLog*>(user);
    Entry e{type, a, length, {}};
    if (data != nullptr && type == kEventPacket) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        e.data.assign(bytes, bytes + length);
    }
    log->entries.push_back(std::move(e));
}

std::vector<std::vector<uint8_t>> EventLog::Packets(uint32_t output) const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& e : entries) {
        if (e.type == kEventPacket && e.a == output) {
            out.push_back(e.data);
        }
    }
    return out;
}

std::vector<EventLog::Entry> EventLog::OfType(uint32_t type) const {
    std::vector<Entry> out;
    for (const auto& e : entries) {
        if (e.type == type) {
            out.push_back(e);
        }
    }
    return out;
}

}  // namespace tavrel::testing
