#pragma once

#include <string>

#include "cli/options.h"
#include "sim/multiplex.h"

namespace tavrel::cli {

// The options that shape a simulated multiplex, shared by `generate` and `capture`:
// --seconds, --packet-size, --bitrate, --start, --seed, --sync-errors, --cc-errors,
// --scrambled, --tsid-change-at. True when `option` was one of them (its value is taken from
// the walk); throws UsageError for a bad value.
bool ParseMultiplexOption(const std::string& option, ArgumentWalk& walk,
                          sim::MultiplexConfig& config, bool with_seconds = true);

}  // namespace tavrel::cli
