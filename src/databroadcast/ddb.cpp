// DownloadDataBlock: one block of a module; the last missing block completes the module,
// which is inflated when compressed and handed to the content parser.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "databroadcast/carousel_store.h"
#include "databroadcast/dsmcc_message.h"

namespace tavrel {
namespace {

struct Inflated {
    std::unique_ptr<uint8_t[]> data;
    size_t length = 0;
};

// One zlib-format stream inflated in one go into original_size bytes. Nothing unless the
// stream ends within that room.
std::optional<Inflated> InflateModule(std::span<const uint8_t> module, uint32_t original_size) {
    if (original_size > kMaxInflatedModuleSize) {
        return std::nullopt;
    }
    Inflated out;
    out.data = TryAllocate(original_size);
    if (!out.data) {
        return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return std::nullopt;
    }
    // zlib takes a non-const input pointer but does not write through it.
    stream.next_in = const_cast<Bytef*>(module.data());
    stream.avail_in = static_cast<uInt>(module.size());
    stream.next_out = out.data.get();
    stream.avail_out = original_size;
    const int result = inflate(&stream, Z_FINISH);
    // A stream that ends early hands on only what it produced, never unwritten bytes.
    out.length = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

bool CCarouselStore::HandleDdb(uint16_t pid, uint16_t service_id, std::span<const uint8_t> section,
                               uint32_t message_offset, uint32_t message_length,
                               uint8_t component_tag) {
    ScopedLock hold(lock_);
    if (message_offset > section.size()) {
        return true;
    }
    std::span<const uint8_t> message = section.subspan(message_offset);
    message = message.first(std::min<size_t>(message.size(), message_length));
    ByteReader reader(message);
    const DsmccMessageHeader header = ReadDsmccMessageHeader(reader);
    const uint16_t module_id = reader.U16();
    const uint8_t ddb_version = reader.U8();
    reader.Skip(1);  // reserved
    const uint16_t block_number = reader.U16();
    if (!reader.Ok() || !header.Is(kMessageIdDdb)) {
        return true;
    }
    const std::span<const uint8_t> block = reader.Rest();

    const auto carousel = carousels_.find(pid);
    if (carousel == carousels_.end()) {
        return true;
    }
    CarouselRecord& record = *carousel->second;
    if (record.download_id != header.transaction_or_download_id) {
        return true;
    }
    const auto modules = record.Modules();
    const auto found = std::find_if(modules.begin(), modules.end(),
                                    [&](const ModuleEntry& m) { return m.module_id == module_id; });
    if (found == modules.end()) {
        return true;
    }
    ModuleEntry& module = *found;
    // block_count never exceeds the flag table, so every block of a 1024-block module counts.
    if (module.module_complete || block_number >= module.block_count) {
        return true;
    }

    const size_t block_size = record.block_size;
    if (!module.data) {
        module.data = TryAllocate(size_t{module.block_count} * block_size);
        if (!module.data) {
            return true;  // waits for the block to come again
        }
    }
    // Only what fits the block's place inside the module is copied: a block longer than the
    // block size, or a last block running past the module's end, is cut there. A short block
    // leaves zeros behind it, so a module never hands on bytes no block wrote.
    const size_t offset = block_number * block_size;
    const size_t place = std::min<size_t>(block_size, module.module_size - offset);
    const size_t copied = std::min(block.size(), place);
    if (copied > 0) {
        std::memcpy(module.data.get() + offset, block.data(), copied);
    }
    std::memset(module.data.get() + offset + copied, 0, place - copied);
    module.block_received[block_number] = 1;

    const auto flags = std::span(module.block_received).first(module.block_count);
    if (std::find(flags.begin(), flags.end(), 0) != flags.end()) {
        return true;
    }

    module.module_complete = 1;
    const std::span<const uint8_t> content(module.data.get(), module.module_size);
    if (module.compressed) {
        // Whatever the compression_type says, zlib is the one compression in use.
        if (const auto inflated = InflateModule(content, module.original_size)) {
            ParseModuleContent(service_id, record.component_tag, module.module_id,
                               module.module_version, Text(module.content_type),
                               std::span<const uint8_t>(inflated->data.get(), inflated->length));
        }
    } else {
        ParseModuleContent(service_id, record.component_tag, module.module_id,
                           module.module_version, Text(module.content_type), content);
    }
    module.data.reset();

    std::vector<Notice> notices;
    notices.push_back({kModuleCompleted,
                       pid,
                       {component_tag, module.module_id, ddb_version, module.module_size},
                       0,
                       0});
    const bool all_complete = std::all_of(modules.begin(), modules.end(), [](const ModuleEntry& m) {
        return m.module_complete != 0;
    });
    if (all_complete) {
        record.complete = 1;
        notices.push_back({kCarouselCompleted, pid, {}, component_tag, 0});
    }
    Emit(notices);
    return true;
}

}  // namespace tavrel
