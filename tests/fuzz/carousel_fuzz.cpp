// Arbitrary DII, DDB and module content into one carousel store, then its resources written to
// a scratch folder that is emptied after every input and removed at exit.
//
// Input: records of [op][length, 2 bytes big-endian][length bytes]. The low three bits of op
// choose the call: 0 DII, 1 DDB, 2 module content, 3 reset, 4 write; bit 3 the PID (two
// carousels), bit 4 the short section form (message at offset 3 instead of 8), bits 5 to 7
// the component tag, a content type or the removal flag.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "databroadcast/carousel_store.h"
#include "databroadcast/resource_writer.h"

namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tavrel-carousel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!root_.empty()) {
            std::filesystem::remove_all(root_, ignored);
        }
    }
    std::string Output() const { return root_.empty() ? std::string() : root_ + "/out"; }
    void Empty() const {
        std::error_code ignored;
        if (!root_.empty()) {
            std::filesystem::remove_all(Output(), ignored);
        }
    }

private:
    std::string root_;
};

const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

void Hook(uint32_t code, uint32_t, const void* data, uint32_t, void*) {
    if (code >= tavrel::kModuleAnnounced && code <= tavrel::kModuleCompleted) {
        // Read the whole payload so ASan sees a stale one.
        volatile uint32_t size = static_cast<const tavrel::ModuleInfo*>(data)->module_size;
        (void)size;
    }
}

constexpr std::string_view kContentTypes[] = {"",
                                              "multipart/mixed",
                                              "image/X-arib-png",
                                              "text/X-arib-bml",
                                              "application/X-arib-resourceList",
                                              "image/jpeg",
                                              "multipart/mixed; boundary=x",
                                              "X-arib-btable"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavrel::CCarouselStore store;
    store.SetNotificationCallback(&Hook, nullptr);
    const std::span<const uint8_t> input(data, size);
    size_t pos = 0;
    bool written = false;
    while (pos + 3 <= input.size()) {
        const uint8_t op = input[pos];
        const size_t length = std::min<size_t>((size_t{input[pos + 1]} << 8) | input[pos + 2],
                                               input.size() - pos - 3);
        const std::span<const uint8_t> payload = input.subspan(pos + 3, length);
        pos += 3 + length;

        const uint16_t pid = (op & 0x08) ? 0x0141 : 0x0140;
        const uint32_t offset = (op & 0x10) ? 3 : 8;
        const uint8_t tag = static_cast<uint8_t>(0x40 + (op >> 5));
        switch (op & 0x07) {
            case 0:
                store.HandleDii(payload, offset, pid, 0x0400, tag);
                break;
            case 1: {
                // As the handler measures it: everything but the last four bytes.
                const uint32_t message_length =
                    payload.size() >= offset + 4
                        ? static_cast<uint32_t>(payload.size() - offset - 4)
                        : 0;
                store.HandleDdb(pid, 0x0400, payload, offset, message_length, tag);
                break;
            }
            case 2:
                store.ParseModuleContent(0x0400, tag, static_cast<uint16_t>(length), op >> 5,
                                         kContentTypes[op >> 5], payload);
                break;
            case 3:
                store.ResetCarousel(pid, (op & 0x80) != 0);
                break;
            default:
                if (!Scratch().Output().empty()) {
                    store.WriteResources(Scratch().Output(), pid);
                    written = true;
                }
                break;
        }
    }
    // Whatever a location says, its file name must stay below the folder it is written to.
    store.VisitResources([](uint64_t, const tavrel::ResourceRecord& resource) {
        const std::string relative = tavrel::SafeRelativePath(resource.path);
        const std::string wrapped = "/" + relative + "/";
        if ((!relative.empty() && relative.front() == '/') ||
            wrapped.find("/../") != std::string::npos || wrapped.find("/./") != std::string::npos ||
            relative.find('\\') != std::string::npos) {
            abort();
        }
    });
    if (!Scratch().Output().empty()) {
        store.WriteResources(Scratch().Output(), 0x0140);
        store.WriteResources(Scratch().Output(), 0x0141);
        written = true;
    }
    if (written) {
        Scratch().Empty();
    }
    store.ClearAll();
    return 0;
}
