#pragma once

// A carousel store with its notifications recorded, and shortcuts that feed it whole sections
// the way the processor's carousel handler does.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "databroadcast/carousel_store.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/module_builder.h"

namespace tavrel::testing {

struct Notice {
    uint32_t code = 0;
    uint32_t pid = 0;
    uint32_t number = 0;  // codes carrying a number
    ModuleInfo info{};    // codes 0x51 to 0x53
    uint32_t extra = 0;
};

struct NoticeLog {
    std::vector<Notice> notices;

    void Attach(CCarouselStore& store) { store.SetNotificationCallback(&Hook, this); }
    static void Hook(uint32_t code, uint32_t pid, const void* data, uint32_t extra, void* user) {
        Notice n{code, pid, 0, {}, extra};
        if (code >= kModuleAnnounced && code <= kModuleCompleted) {
            n.info = *static_cast<const ModuleInfo*>(data);
        } else {
            n.number = NotificationNumber(data);
        }
        static_cast<NoticeLog*>(user)->notices.push_back(n);
    }
    std::vector<uint32_t> Codes() const {
        std::vector<uint32_t> codes(notices.size());
        std::ranges::transform(notices, codes.begin(), &Notice::code);
        return codes;
    }
    std::vector<Notice> OfCode(uint32_t code) const {
        std::vector<Notice> out;
        std::ranges::copy_if(notices, std::back_inserter(out),
                             [&](const Notice& n) { return n.code == code; });
        return out;
    }
};

// A resource as the store holds it, copied out.
struct StoredResource {
    uint16_t service_id;
    uint8_t component_tag;
    uint16_t module_id;
    uint8_t version;
    std::string content_type, content_encoding, location, path;
    bool has_data;
    std::vector<uint8_t> data;
};

inline std::vector<StoredResource> StoredResources(const CCarouselStore& store) {
    std::vector<StoredResource> out;
    store.VisitResources([&](uint64_t key, const ResourceRecord& r) {
        out.push_back({ServiceIdOfKey(key), ComponentTagOfKey(key), ModuleIdOfKey(key), r.version,
                       std::string(Text(r.content_type)), std::string(Text(r.content_encoding)),
                       std::string(Text(r.location)), r.path, r.data != nullptr,
                       r.data ? std::vector<uint8_t>(r.data.get(), r.data.get() + r.length)
                              : std::vector<uint8_t>()});
    });
    return out;
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// A DII listing the given modules with one download id and block size.
inline sim::Dii MakeDii(uint32_t download_id, uint16_t block_size,
                        std::vector<sim::DiiModule> modules) {
    sim::Dii dii;
    dii.download_id = download_id;
    dii.block_size = block_size;
    dii.modules = std::move(modules);
    return dii;
}

struct CarouselFixture {
    static constexpr uint16_t kPid = 0x0140;
    static constexpr uint16_t kServiceId = 0x0400;
    static constexpr uint8_t kTag = 0x40;

    CCarouselStore store;
    NoticeLog log;

    CarouselFixture() { log.Attach(store); }

    // A long-form section as the handler passes it: message at offset 8.
    bool DiiSection(std::span<const uint8_t> section, uint16_t pid = kPid,
                    uint16_t service_id = kServiceId, uint8_t tag = kTag) {
        return store.HandleDii(section, 8, pid, service_id, tag);
    }
    bool Dii(const sim::Dii& dii, uint16_t pid = kPid, uint16_t service_id = kServiceId,
             uint8_t tag = kTag) {
        return DiiSection(sim::DiiSection(dii), pid, service_id, tag);
    }
    // The message length is section_length - 8 - 1: everything before the CRC.
    void DdbSection(std::span<const uint8_t> section, uint16_t pid = kPid,
                    uint16_t service_id = kServiceId, uint8_t tag = kTag) {
        const uint32_t section_length = ((section[1] & 0x0F) << 8) | section[2];
        store.HandleDdb(pid, service_id, section, 8, section_length - 9, tag);
    }
    void Ddb(const sim::Ddb& ddb, uint16_t pid = kPid) { DdbSection(sim::DdbSection(ddb), pid); }
    void AllBlocks(const std::vector<std::vector<uint8_t>>& sections, uint16_t pid = kPid,
                   uint16_t service_id = kServiceId) {
        for (const auto& s : sections) {
            DdbSection(s, pid, service_id);
        }
    }
    // A DII listing the modules, then every block of each.
    void Deliver(const std::vector<sim::BuiltModule>& modules, uint16_t block_size = 4066) {
        std::vector<sim::DiiModule> entries(modules.size());
        std::ranges::transform(modules, entries.begin(), &sim::BuiltModule::entry);
        Dii(MakeDii(1, block_size, entries));
        for (const auto& m : modules) {
            AllBlocks(sim::ModuleDdbSections(1, m.entry.module_id, m.entry.module_version,
                                             block_size, m.bytes));
        }
    }
    ModuleStatus Module(uint16_t module_id, uint16_t pid = kPid) const {
        if (const auto carousel = store.Carousel(pid)) {
            for (const ModuleStatus& m : carousel->modules) {
                if (m.module_id == module_id) {
                    return m;
                }
            }
        }
        return ModuleStatus{};
    }
};

// One DDB's fields.
inline sim::Ddb Block(uint32_t download_id, uint16_t module_id, uint8_t version, uint16_t number,
                      std::vector<uint8_t> data) {
    return {download_id, module_id, version, number, 0, std::move(data), {}};
}

// n bytes that differ from block to block, so misplaced blocks show.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    }
    return v;
}

}  // namespace tavrel::testing
