#include "cli/multiplex_options.h"

namespace tavrel::cli {

bool ParseMultiplexOption(const std::string& a, ArgumentWalk& walk, sim::MultiplexConfig& config,
                          bool with_seconds) {
    auto count = [&](const std::string& option) {
        return static_cast<uint32_t>(ParseNumber(walk.Value(option), 0, 1'000'000, option));
    };
    if (a == "--seconds" && with_seconds) {
        config.seconds = static_cast<double>(ParseNumber(walk.Value(a), 1, 86400, a));
    } else if (a == "--packet-size") {
        config.packet_size = static_cast<uint32_t>(ParseNumber(walk.Value(a), 188, 204, a));
        if (config.packet_size != 188 && config.packet_size != 192 && config.packet_size != 204) {
            throw UsageError{"--packet-size is 188, 192 or 204"};
        }
    } else if (a == "--bitrate") {
        config.bitrate = ParseNumber(walk.Value(a), 2'000'000, 1'000'000'000, a);
    } else if (a == "--start") {
        config.start = ParseDateTime(walk.Value(a), a);
    } else if (a == "--seed") {
        config.seed = ParseNumber(walk.Value(a), 0, UINT64_MAX, a);
    } else if (a == "--sync-errors") {
        config.sync_errors = count(a);
    } else if (a == "--cc-errors") {
        config.continuity_errors = count(a);
    } else if (a == "--scrambled") {
        config.scrambled_packets = count(a);
    } else if (a == "--tsid-change-at") {
        config.change_seconds = static_cast<double>(ParseNumber(walk.Value(a), 0, 86400, a));
    } else {
        return false;
    }
    return true;
}

}  // namespace tavrel::cli
