// DownloadInfoIndication: the module list of a carousel, and how a new list replaces the old.
#include <cstring>

#include "databroadcast/carousel_store.h"
#include "databroadcast/dsmcc_message.h"

namespace tavrel {
namespace {

constexpr uint8_t kTypeDescriptor = 0x01;
constexpr uint8_t kCompressionTypeDescriptor = 0xC2;

// Blocks needed for a module; 0 for an empty module (the unsigned formula of the standard
// would wrap to billions there).
uint64_t BlocksFor(uint32_t module_size, uint16_t block_size) {
    return module_size == 0 ? 0 : (uint64_t{module_size} - 1) / block_size + 1;
}

void ReadModuleDescriptors(ByteReader descriptors, ModuleEntry& module) {
    while (descriptors.Has(2)) {
        const uint8_t tag = descriptors.U8();
        ByteReader body = descriptors.Sub(descriptors.U8());
        if (tag == kTypeDescriptor) {
            const std::span<const uint8_t> text = body.Rest();
            SetText(module.content_type,
                    std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
        } else if (tag == kCompressionTypeDescriptor) {
            // A short descriptor leaves original_size 0, so inflating fails and the module
            // yields nothing rather than its compressed bytes.
            module.compressed = 1;
            module.compression_type = body.U8();
            module.original_size = body.U32();
        }
    }
}

}  // namespace

bool CCarouselStore::HandleDii(std::span<const uint8_t> section, uint32_t message_offset,
                               uint16_t pid, uint16_t service_id, uint8_t component_tag) {
    ScopedLock hold(lock_);
    if (message_offset > section.size()) {
        return true;
    }
    ByteReader reader(section.subspan(message_offset));
    const DsmccMessageHeader header = ReadDsmccMessageHeader(reader);
    if (!reader.Ok() || !header.Is(kMessageIdDii)) {
        return true;
    }

    if (!scratch_) {
        scratch_ = std::make_unique<CarouselRecord>();
    }
    CarouselRecord& fresh = *scratch_;
    fresh.Clear();
    fresh.service_id = service_id;
    fresh.component_tag = component_tag;
    fresh.transaction_id = header.transaction_or_download_id;
    fresh.transaction_id_masked = header.transaction_or_download_id & 0x3FFFFFFF;
    fresh.download_id = reader.U32();
    fresh.block_size = reader.U16();
    fresh.window_size = reader.U8();
    fresh.ack_period = reader.U8();
    fresh.tc_download_window = reader.U32();
    fresh.tc_download_scenario = reader.U32();
    reader.Skip(reader.U16());  // compatibilityDescriptor
    const uint16_t module_count = reader.U16();
    if (!reader.Ok() || fresh.block_size == 0) {
        return true;  // cut short, or no block size to place blocks by: not a usable DII
    }
    if (module_count > kMaxCarouselModules) {
        Emit({{kTooManyModules, pid, {}, component_tag, module_count}});
        return false;
    }

    fresh.module_count = module_count;
    for (ModuleEntry& module : fresh.Modules()) {
        module.module_id = reader.U16();
        module.module_size = reader.U32();
        module.module_version = reader.U8();
        const uint8_t info_length = reader.U8();
        if (!reader.Ok()) {
            fresh.Clear();
            return true;
        }
        const uint64_t blocks = BlocksFor(module.module_size, fresh.block_size);
        if (blocks > kMaxModuleBlocks) {
            const uint32_t module_size = module.module_size;
            fresh.Clear();
            Emit({{kTooManyBlocks, pid, {}, component_tag, module_size}});
            return false;
        }
        module.block_count = static_cast<uint16_t>(blocks);
        ReadModuleDescriptors(reader.Sub(info_length), module);
        if (!reader.Ok()) {
            fresh.Clear();
            return true;
        }
    }

    std::vector<Notice> notices;
    const auto stored = carousels_.find(pid);
    if (stored == carousels_.end()) {
        for (const ModuleEntry& module : fresh.Modules()) {
            notices.push_back({kModuleAnnounced, pid, module.Info(fresh.component_tag), 0, 0});
        }
        carousels_.emplace(pid, std::move(scratch_));
        Emit(notices);
        return true;
    }

    CarouselRecord& old = *stored->second;
    for (ModuleEntry& entry : old.Modules()) {
        ModuleEntry* match = nullptr;
        for (ModuleEntry& candidate : fresh.Modules()) {
            if (candidate.module_id == entry.module_id) {
                match = &candidate;
                break;
            }
        }
        if (match == nullptr) {
            // Dropped from the carousel: its resources go with it.
            const auto resources =
                resources_.find(ResourceKey(service_id, old.component_tag, entry.module_id));
            if (resources != resources_.end()) {
                const bool had_any = !resources->second.empty();
                resources_.erase(resources);
                if (had_any) {
                    notices.push_back({kModuleDropped, pid, entry.Info(old.component_tag), 0, 0});
                }
            }
        } else if (match->module_version != entry.module_version) {
            // Restarts empty; the resources of the old version stay until the new one
            // replaces them.
            notices.push_back({kModuleAnnounced, pid, match->Info(fresh.component_tag), 0, 0});
        } else if (entry.module_complete || fresh.block_size == old.block_size) {
            // Unchanged: keeps its blocks, its buffer and its completion.
            *match = std::move(entry);
        }
        // Unchanged but with a new block size and not complete: the blocks collected so far
        // sit at the old places, so the module restarts empty.
    }
    // The accepted list takes the stored one's place; the old record, now the scratch,
    // releases the buffers of the modules that were not kept.
    std::swap(stored->second, scratch_);
    scratch_->Clear();
    Emit(notices);
    return true;
}

}  // namespace tavrel
