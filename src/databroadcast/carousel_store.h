#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lock.h"
#include "ts/processor_callback.h"

namespace tavrel {

// Limits of one carousel: the module table and the block flags are fixed-size.
inline constexpr uint32_t kMaxCarouselModules = 128;
inline constexpr uint32_t kMaxModuleBlocks = 1024;
// A compressed module states its inflated size itself; more than this is refused so that a
// few bytes of broadcast cannot make us allocate gigabytes.
inline constexpr uint32_t kMaxInflatedModuleSize = 16 * 1024 * 1024;

// Codes the store raises through its notification hook.
enum CarouselNotification : uint32_t {
    kCarouselReset = 0x50,      // data = component tag
    kModuleAnnounced = 0x51,    // data = ModuleInfo (new version and size)
    kModuleDropped = 0x52,      // data = ModuleInfo of the module that had resources
    kModuleCompleted = 0x53,    // data = ModuleInfo (version of the completing DDB)
    kCarouselCompleted = 0x54,  // data = component tag
    kTooManyModules = 0x55,     // data = component tag, length = numberOfModules
    kTooManyBlocks = 0x56,      // data = component tag, length = moduleSize
};

// Notifications that carry a number pass it in the data argument itself, not behind it.
inline const void* NotificationNumberArgument(uint32_t number) {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(number));
}
inline uint32_t NotificationNumber(const void* data) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data));
}

// Payload of notifications 0x51, 0x52 and 0x53.
struct ModuleInfo {
    uint8_t component_tag = 0;
    uint16_t module_id = 0;
    uint8_t module_version = 0;
    uint32_t module_size = 0;
};

// A NUL-terminated Shift_JIS text of at most 79 bytes, as the records hold their texts.
using TextField = std::array<char, 80>;
// Copies at most 79 bytes of text and terminates the field.
void SetText(TextField& field, std::string_view text);
// The text up to its NUL.
std::string_view Text(const TextField& field);

// One module of a carousel as its DII lists it, with the blocks collected so far.
struct ModuleEntry {
    uint16_t module_id = 0;
    uint32_t module_size = 0;  // as sent: the compressed size of a compressed module
    uint8_t module_version = 0;
    uint16_t block_count = 0;  // 0 only for an empty module, which has nothing to collect
    TextField content_type{};  // from a Type descriptor (0x01); empty when absent
    uint8_t compressed = 0;    // a Compression Type descriptor (0xC2) was there
    uint8_t compression_type = 0;
    uint32_t original_size = 0;  // size after inflating
    uint8_t module_complete = 0;
    std::array<uint8_t, kMaxModuleBlocks> block_received{};
    // block_count x the carousel's block size bytes while blocks are collected; null before
    // the first block and after the module was handed on.
    std::unique_ptr<uint8_t[]> data;

    void Clear();
    ModuleInfo Info(uint8_t component_tag) const {
        return {component_tag, module_id, module_version, module_size};
    }
};

// One carousel (one PID), as its last accepted DII describes it.
struct CarouselRecord {
    uint8_t complete = 0;  // every listed module has completed
    uint16_t service_id = 0;
    uint8_t component_tag = 0;
    uint32_t transaction_id = 0;
    uint32_t transaction_id_masked = 0;  // the two top bits cleared
    uint32_t download_id = 0;            // DDBs must carry the same
    uint16_t block_size = 0;
    uint8_t window_size = 0;
    uint8_t ack_period = 0;
    uint32_t tc_download_window = 0;
    uint32_t tc_download_scenario = 0;
    uint16_t module_count = 0;
    std::array<ModuleEntry, kMaxCarouselModules> modules;

    // Zeroes every field and releases the module buffers.
    void Clear();
    std::span<ModuleEntry> Modules() { return {modules.data(), module_count}; }
    std::span<const ModuleEntry> Modules() const { return {modules.data(), module_count}; }
};

// One resource taken out of a module.
struct ResourceRecord {
    uint8_t version = 0;  // moduleVersion of the module it came from
    int32_t length = 0;
    TextField content_type{};
    TextField content_encoding{};  // kept, not used
    TextField location{};          // empty for a resource without Content-Location
    // Relative output path, '/'-separated, location as received (Shift_JIS). Not cut to the
    // 79 bytes of the other texts: with a long location it needs up to 87.
    std::string path;
    std::unique_ptr<uint8_t[]> data;  // length bytes; null when storing failed
};

// Resources are filed under service id, component tag and module id.
inline constexpr uint64_t ResourceKey(uint16_t service_id, uint8_t component_tag,
                                      uint16_t module_id) {
    return uint64_t{service_id} << 24 | uint64_t{component_tag} << 16 | module_id;
}
inline constexpr uint16_t ServiceIdOfKey(uint64_t key) {
    return static_cast<uint16_t>(key >> 24);
}
inline constexpr uint8_t ComponentTagOfKey(uint64_t key) {
    return static_cast<uint8_t>(key >> 16);
}
inline constexpr uint16_t ModuleIdOfKey(uint64_t key) {
    return static_cast<uint16_t>(key);
}

// Test seam: while one lives, the store's allocations of more than limit bytes fail, as they
// would when memory runs out. One at a time.
class ScopedCarouselAllocationLimit {
public:
    explicit ScopedCarouselAllocationLimit(size_t limit);
    ~ScopedCarouselAllocationLimit();
    ScopedCarouselAllocationLimit(const ScopedCarouselAllocationLimit&) = delete;
    ScopedCarouselAllocationLimit& operator=(const ScopedCarouselAllocationLimit&) = delete;
};

// What a caller outside the store may see of a carousel.
struct ModuleStatus {
    uint16_t module_id = 0;
    uint32_t module_size = 0;
    uint8_t module_version = 0;
    uint16_t block_count = 0;
    uint16_t blocks_received = 0;
    std::string content_type;
    bool compressed = false;
    uint32_t original_size = 0;
    bool complete = false;
    bool collecting = false;  // holds a block buffer
};
struct CarouselStatus {
    uint16_t pid = 0;
    uint16_t service_id = 0;
    uint8_t component_tag = 0;
    uint32_t download_id = 0;
    uint16_t block_size = 0;
    bool complete = false;
    std::vector<ModuleStatus> modules;
};

// The data-carousel store of one stream processor: collects DII and DDB messages per PID,
// reassembles and inflates modules, splits them into resources and writes those to disk on
// request. Fed by the processing thread, read by the user-interface thread; every public
// operation holds the store's lock for its whole run. The lock is re-entrant: module parsing
// stores resources through the public StoreResource, and a notification hook may call back
// into the store.
class CCarouselStore {
public:
    CCarouselStore() = default;
    ~CCarouselStore() = default;
    CCarouselStore(const CCarouselStore&) = delete;
    CCarouselStore& operator=(const CCarouselStore&) = delete;

    // The hook gets (code, pid, data, length, user); see CarouselNotification. Null stops
    // notifications.
    void SetNotificationCallback(ProcessorOutputCallback callback, void* user);

    // A DII (table 0x3B) whose DSM-CC message starts at message_offset of the section.
    // False when a limit was exceeded (0x55, 0x56); the stored carousel is then untouched.
    bool HandleDii(std::span<const uint8_t> section, uint32_t message_offset, uint16_t pid,
                   uint16_t service_id, uint8_t component_tag);
    // A DDB (table 0x3C): stores one block and completes its module when it was the last one
    // missing. Always true.
    bool HandleDdb(uint16_t pid, uint16_t service_id, std::span<const uint8_t> section,
                   uint32_t message_offset, uint32_t message_length, uint8_t component_tag);
    // Discards the module data and the resources of one carousel; with remove the carousel
    // is forgotten, otherwise it stays, zeroed, until its next DII.
    void ResetCarousel(uint16_t pid, bool remove);
    // Resets every carousel, then forgets all carousels and resources.
    void ClearAll();

    // Splits one finished module into resources and stores them.
    void ParseModuleContent(uint16_t service_id, uint8_t component_tag, uint16_t module_id,
                            uint8_t module_version, std::string_view content_type,
                            std::span<const uint8_t> data);
    // Stores a copy of record (path and data are set here) with record.length bytes of data.
    // False for resource lists, which are never kept, and when the data could not be kept.
    bool StoreResource(uint16_t service_id, uint8_t component_tag, uint16_t module_id,
                       std::span<const uint8_t> data, const ResourceRecord& record);
    // Writes every resource of the carousel on pid below base_folder ("CT/MMMM.ext" or
    // "CT/MMMM/location"). 0 when there is no carousel on pid, else 1.
    int WriteResources(const std::string& base_folder, uint16_t pid);

    bool HasCarousel(uint16_t pid) const;
    std::optional<CarouselStatus> Carousel(uint16_t pid) const;
    std::vector<CarouselStatus> Carousels() const;
    // Calls visit for every stored resource in key order, then location order, with the
    // lock held.
    void VisitResources(
        const std::function<void(uint64_t key, const ResourceRecord& resource)>& visit) const;

private:
    struct Notice {
        uint32_t code;
        uint16_t pid;
        ModuleInfo info;  // codes 0x51 to 0x53
        uint32_t number;  // the other codes: component tag
        uint32_t extra;
    };

    void Emit(const std::vector<Notice>& notices);
    static CarouselStatus Status(uint16_t pid, const CarouselRecord& record);

    mutable RecursiveLock lock_;
    std::map<uint16_t, std::unique_ptr<CarouselRecord>> carousels_;
    std::map<uint64_t, std::map<std::string, ResourceRecord>> resources_;
    // A DII is parsed here; an accepted one changes places with the stored record.
    std::unique_ptr<CarouselRecord> scratch_;
    ProcessorOutputCallback callback_ = nullptr;
    void* user_ = nullptr;
};

}  // namespace tavrel
