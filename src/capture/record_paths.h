#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tavrel {

// When a file of that name exists, changes path to the first free "<base>_<n><ext>" beside it
// (n = 1, 2, 3, ...); otherwise leaves it alone.
void MakeUniquePath(std::string& path);

// Makes sure the folder exists, creating missing parents first. True when the path is (now) a
// folder; false when it is a file, cannot be created, or has no separator at all.
bool CreateDirectoryChain(const std::string& path);

// The file name of a manual recording named automatically: "cap-YYYYMMDD-hhmmss.ts".
std::string AutomaticRecordingName(const LocalTime& now);
// That name inside the folder chosen for automatic names.
std::string AutomaticRecordingPath(std::string_view folder, const LocalTime& now);

}  // namespace tavrel
