// The carousel store's bookkeeping: resets, the notification hook and what callers may see.
// The DII, the DDB, module content and the writer live in their own files.
#include "databroadcast/carousel_store.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "databroadcast/dsmcc_message.h"

namespace tavrel {
namespace {

std::atomic<size_t> g_allocation_limit{SIZE_MAX};

}  // namespace

ScopedCarouselAllocationLimit::ScopedCarouselAllocationLimit(size_t limit) {
    g_allocation_limit.store(limit, std::memory_order_relaxed);
}

ScopedCarouselAllocationLimit::~ScopedCarouselAllocationLimit() {
    g_allocation_limit.store(SIZE_MAX, std::memory_order_relaxed);
}

std::unique_ptr<uint8_t[]> TryAllocate(size_t n) {
    if (n > g_allocation_limit.load(std::memory_order_relaxed)) {
        return nullptr;
    }
    try {
        return std::make_unique_for_overwrite<uint8_t[]>(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void SetText(TextField& field, std::string_view text) {
    const size_t n = std::min(text.size(), field.size() - 1);
    if (n > 0) {
        std::memcpy(field.data(), text.data(), n);
    }
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), '\0');
}

std::string_view Text(const TextField& field) {
    const auto end = std::find(field.begin(), field.end(), '\0');
    return {field.data(), static_cast<size_t>(end - field.begin())};
}

void ModuleEntry::Clear() {
    module_id = 0;
    module_size = 0;
    module_version = 0;
    block_count = 0;
    content_type.fill('\0');
    compressed = 0;
    compression_type = 0;
    original_size = 0;
    module_complete = 0;
    block_received.fill(0);
    data.reset();
}

void CarouselRecord::Clear() {
    complete = 0;
    service_id = 0;
    component_tag = 0;
    transaction_id = 0;
    transaction_id_masked = 0;
    download_id = 0;
    block_size = 0;
    window_size = 0;
    ack_period = 0;
    tc_download_window = 0;
    tc_download_scenario = 0;
    module_count = 0;
    for (ModuleEntry& m : modules) {
        m.Clear();
    }
}

void CCarouselStore::SetNotificationCallback(ProcessorOutputCallback callback, void* user) {
    ScopedLock hold(lock_);
    callback_ = callback;
    user_ = user;
}

// Notices are raised once the store is consistent again, and nothing of the store is touched
// after them, so a hook that calls back into the store (the lock lets it) finds a whole state.
void CCarouselStore::Emit(const std::vector<Notice>& notices) {
    for (const Notice& n : notices) {
        if (callback_ == nullptr) {
            return;
        }
        switch (n.code) {
            case kModuleAnnounced:
            case kModuleDropped:
            case kModuleCompleted:
                callback_(n.code, n.pid, &n.info, n.extra, user_);
                break;
            default:
                callback_(n.code, n.pid, NotificationNumberArgument(n.number), n.extra, user_);
                break;
        }
    }
}

void CCarouselStore::ResetCarousel(uint16_t pid, bool remove) {
    ScopedLock hold(lock_);
    const auto carousel = carousels_.find(pid);
    if (carousel == carousels_.end()) {
        return;
    }
    CarouselRecord& record = *carousel->second;
    const uint8_t component_tag = record.component_tag;
    for (ModuleEntry& m : record.Modules()) {
        m.data.reset();
    }
    // Only this carousel's resources: other services' carousels often use the same tag.
    for (auto it = resources_.begin(); it != resources_.end();) {
        if (ServiceIdOfKey(it->first) != record.service_id ||
            ComponentTagOfKey(it->first) != component_tag) {
            ++it;
            continue;
        }
        it->second.clear();
        it = remove ? resources_.erase(it) : std::next(it);
    }
    if (remove) {
        carousels_.erase(carousel);
    } else {
        record.Clear();
    }
    Emit({{kCarouselReset, pid, {}, component_tag, 0}});
}

void CCarouselStore::ClearAll() {
    ScopedLock hold(lock_);
    std::vector<uint16_t> pids;
    for (const auto& [pid, record] : carousels_) {
        pids.push_back(pid);
    }
    for (const uint16_t pid : pids) {
        ResetCarousel(pid, false);
    }
    carousels_.clear();
    resources_.clear();
}

bool CCarouselStore::HasCarousel(uint16_t pid) const {
    ScopedLock hold(lock_);
    return carousels_.contains(pid);
}

CarouselStatus CCarouselStore::Status(uint16_t pid, const CarouselRecord& record) {
    CarouselStatus s;
    s.pid = pid;
    s.service_id = record.service_id;
    s.component_tag = record.component_tag;
    s.download_id = record.download_id;
    s.block_size = record.block_size;
    s.complete = record.complete != 0;
    for (const ModuleEntry& m : record.Modules()) {
        ModuleStatus ms;
        ms.module_id = m.module_id;
        ms.module_size = m.module_size;
        ms.module_version = m.module_version;
        ms.block_count = m.block_count;
        ms.blocks_received = static_cast<uint16_t>(
            std::count(m.block_received.begin(), m.block_received.begin() + m.block_count, 1));
        ms.content_type = Text(m.content_type);
        ms.compressed = m.compressed != 0;
        ms.original_size = m.original_size;
        ms.complete = m.module_complete != 0;
        ms.collecting = m.data != nullptr;
        s.modules.push_back(std::move(ms));
    }
    return s;
}

std::optional<CarouselStatus> CCarouselStore::Carousel(uint16_t pid) const {
    ScopedLock hold(lock_);
    const auto it = carousels_.find(pid);
    if (it == carousels_.end()) {
        return std::nullopt;
    }
    return Status(pid, *it->second);
}

std::vector<CarouselStatus> CCarouselStore::Carousels() const {
    ScopedLock hold(lock_);
    std::vector<CarouselStatus> out;
    for (const auto& [pid, record] : carousels_) {
        out.push_back(Status(pid, *record));
    }
    return out;
}

void CCarouselStore::VisitResources(
    const std::function<void(uint64_t key, const ResourceRecord& resource)>& visit) const {
    ScopedLock hold(lock_);
    for (const auto& [key, locations] : resources_) {
        for (const auto& [location, resource] : locations) {
            visit(key, resource);
        }
    }
}

}  // namespace tavrel
