#include "platform/paths.h"

namespace tavrel {

std::string AddSeparator(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != kPathSeparator) {
        out.push_back(kPathSeparator);
    }
    return out;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    if (dir.empty()) {
        return std::string(name);
    }
    while (!name.empty() && name.front() == kPathSeparator) {
        name.remove_prefix(1);
    }
    return AddSeparator(dir) + std::string(name);
}

std::string ParentFolder(std::string_view path) {
    const size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string_view::npos) {
        return {};
    }
    if (slash == 0) {
        return std::string(1, kPathSeparator);
    }
    return std::string(path.substr(0, slash));
}

std::string_view FileName(std::string_view path) {
    const size_t slash = path.rfind(kPathSeparator);
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view Extension(std::string_view path) {
    const std::string_view name = FileName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string_view RemoveExtension(std::string_view path) {
    return path.substr(0, path.size() - Extension(path).size());
}

}  // namespace tavrel
