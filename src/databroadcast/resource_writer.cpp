// Writing the resources of one carousel below a folder.
#include "databroadcast/resource_writer.h"

#include <cstdio>

#include "capture/record_paths.h"
#include "databroadcast/carousel_store.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace tavrel {

std::string_view ExtensionForContentType(std::string_view content_type) {
    static constexpr std::pair<std::string_view, std::string_view> kExtensions[] = {
        {"X-arib-bml", ".bml"},
        {"X-arib-btable", ".bta"},
        {"X-arib-png", ".png"},
        {"jpeg", ".jpg"},
    };
    for (const auto& [part, extension] : kExtensions) {
        if (content_type.find(part) != std::string_view::npos) {
            return extension;
        }
    }
    return ".bin";
}

namespace {

constexpr size_t kModuleFolderLength = 7;  // "CT/MMMM", the start of every resource path

// One name of a path with what a file system could read as more than a name replaced.
std::string SafeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<uint8_t>(name[i]);
        if (c < 0x20 || c == 0x7F || c == ':') {
            out += '_';
        } else if (c == 0xC2 && i + 1 < name.size() && static_cast<uint8_t>(name[i + 1]) >= 0x80 &&
                   static_cast<uint8_t>(name[i + 1]) <= 0x9F) {
            out += '_';  // a C1 control character (U+0080 to U+009F)
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string SafeRelativePath(std::string_view path) {
    // Converted first: the second byte of a Shift_JIS character may be '\'.
    const std::string utf8 = ShiftJisToUtf8(path);
    std::string out;
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find_first_of("/\\", start);
        if (end == std::string::npos) {
            end = utf8.size();
        }
        const std::string_view name = std::string_view(utf8).substr(start, end - start);
        if (!name.empty() && name != "." && name != "..") {
            if (!out.empty()) {
                out += kPathSeparator;
            }
            out += SafeName(name);
        }
        start = end + 1;
    }
    return out;
}

std::string ResourceFolderName(uint16_t service_id, const CalendarDate& date,
                               const ClockTime& time) {
    char name[64];
    std::snprintf(name, sizeof name, "%d-%04d%02d%02d-%02u%02u%02u", service_id, date.year,
                  date.month, date.day, time.hours, time.minutes, time.seconds);
    return name;
}

std::string ResourceFolderName(uint16_t service_id, const MjdTime& local) {
    return ResourceFolderName(service_id, DateFromMjd(local.mjd), SplitSeconds(local.seconds));
}

std::string ResourceFolderName(uint16_t service_id, const Clock& clock) {
    // One reading: date and time of two could straddle midnight.
    return ResourceFolderName(service_id, NowLocal(clock));
}

std::string ResourceFolderPath(std::string_view chosen_folder, uint16_t service_id,
                               const MjdTime& local) {
    return JoinPath(chosen_folder, ResourceFolderName(service_id, local));
}

std::string ResourceFolderPath(std::string_view chosen_folder, uint16_t service_id,
                               const Clock& clock) {
    return ResourceFolderPath(chosen_folder, service_id, NowLocal(clock));
}

int CCarouselStore::WriteResources(const std::string& base_folder, uint16_t pid) {
    ScopedLock hold(lock_);
    const auto carousel = carousels_.find(pid);
    if (carousel == carousels_.end()) {
        return 0;
    }
    const uint16_t service_id = carousel->second->service_id;
    const uint8_t component_tag = carousel->second->component_tag;
    for (const auto& [key, locations] : resources_) {
        if (ServiceIdOfKey(key) != service_id || ComponentTagOfKey(key) != component_tag) {
            continue;
        }
        for (const auto& [location, resource] : locations) {
            if (!resource.data) {
                continue;  // storing it failed: there is nothing to write
            }
            std::string relative = SafeRelativePath(resource.path);
            if (!location.empty() && relative.size() <= kModuleFolderLength) {
                // Nothing of the location was left: a name of its own rather than the
                // module's folder.
                relative += "/_";
            }
            if (location.empty()) {
                relative += ExtensionForContentType(Text(resource.content_type));
            }
            const std::string file = JoinPath(base_folder, relative);
            const std::string folder = ParentFolder(file);
            if (!IsDirectory(folder)) {
                CreateDirectoryChain(folder);
            }
            OutputFile out;
            if (!out.CreateAlways(file)) {
                continue;
            }
            out.Write({resource.data.get(), static_cast<size_t>(resource.length)});
            out.Close();
        }
    }
    return 1;
}

}  // namespace tavrel
