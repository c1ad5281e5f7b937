#pragma once

#include <string>
#include <string_view>

namespace tavrel {

// Path text helpers. Paths are UTF-8 strings with '/' between names; none of these touch the
// file system.
inline constexpr char kPathSeparator = '/';

// The path with exactly one separator at its end ("a" -> "a/", "a/" stays).
std::string AddSeparator(std::string_view path);
// dir and name with one separator between them; name alone when dir is empty.
std::string JoinPath(std::string_view dir, std::string_view name);
// The folder part of a path without its trailing separator ("/a/b.ts" -> "/a"); the root
// stays the root; a bare name has no folder ("").
std::string ParentFolder(std::string_view path);
// The last name of the path ("/a/b.ts" -> "b.ts").
std::string_view FileName(std::string_view path);
// The extension of the last name with its dot ("b.ts" -> ".ts"); empty when there is none.
std::string_view Extension(std::string_view path);
// The path without the extension of its last name.
std::string_view RemoveExtension(std::string_view path);

}  // namespace tavrel
