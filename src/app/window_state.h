#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrel {

// What a window's Qt half draws for one control; the core changes it, the window copies it.
struct Control {
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;  // check boxes and push-like check buttons
};

struct ComboEntry {
    std::string text;
    uint32_t data = 0;  // the item data the core reads back

    friend bool operator==(const ComboEntry&, const ComboEntry&) = default;
};

// A drop-down list with item data and at most one selected entry.
struct ComboBox {
    std::vector<ComboEntry> entries;
    int selected = -1;
    bool enabled = true;
    bool visible = true;

    void Clear() {
        entries.clear();
        selected = -1;
    }
    void Add(std::string text, uint32_t data) { entries.push_back({std::move(text), data}); }
    // Selects the first entry carrying data; false when there is none.
    bool SelectData(uint32_t data) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].data == data) {
                selected = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
    std::optional<uint32_t> SelectedData() const {
        if (selected < 0 || selected >= static_cast<int>(entries.size())) {
            return std::nullopt;
        }
        return entries[static_cast<size_t>(selected)].data;
    }
};

// Where a top-level window stands, and whether it ever stood anywhere.
struct WindowPlace {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;  // 0: the window's default size
    int32_t height = 0;
    bool visible = false;
    bool placed = false;  // false: the window stands where the system put it
};

}  // namespace tavrel
