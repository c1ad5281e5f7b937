#include "capture/record_paths.h"

#include <climits>
#include <cstdio>

#include "platform/file.h"
#include "platform/paths.h"

namespace tavrel {

void MakeUniquePath(std::string& path) {
    if (!PathExists(path)) {
        return;
    }
    const std::string folder = ParentFolder(path);
    const std::string_view ext = Extension(path);
    const std::string base(RemoveExtension(FileName(path)));
    for (int n = 1; n < INT_MAX; ++n) {
        std::string candidate = JoinPath(folder, base + "_" + std::to_string(n) + std::string(ext));
        if (!PathExists(candidate)) {
            path = std::move(candidate);
            return;
        }
    }
}

bool CreateDirectoryChain(const std::string& path) {
    if (PathExists(path)) {
        return IsDirectory(path);
    }
    const size_t cut = path.rfind(kPathSeparator);
    if (cut == std::string::npos) {
        return false;
    }
    const std::string parent = path.substr(0, cut);
    // A parent without a separator of its own (the root, or a name relative to nowhere) is
    // taken as present; the creation below then tells whether it was.
    const bool parent_present =
        parent.find(kPathSeparator) == std::string::npos || CreateDirectoryChain(parent);
    return parent_present && MakeDirectory(path);
}

std::string AutomaticRecordingName(const LocalTime& now) {
    char name[64];
    std::snprintf(name, sizeof name, "cap-%04d%02d%02d-%02d%02d%02d.ts", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    return name;
}

std::string AutomaticRecordingPath(std::string_view folder, const LocalTime& now) {
    return AddSeparator(folder) + AutomaticRecordingName(now);
}

}  // namespace tavrel
