#pragma once

#include <cstdint>
#include <vector>

#include "ts/ts_processor.h"

namespace tavrel::testing {

// Records every callback of a processor, with a copy of its data.
struct EventLog {
    struct Entry {
        uint32_t type;
        uint32_t a;
        uint32_t length;
        std::vector<uint8_t> data;
    };
    std::vector<Entry> entries;

    void Attach(CTsProcessor& processor) { processor.SetOutputCallback(&Callback, this); }

    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user);

    // Units delivered on one output, in order.
    std::vector<std::vector<uint8_t>> Packets(uint32_t output) const;
    std::vector<Entry> OfType(uint32_t type) const;
};

}  // namespace tavrel::testing
