#include "cli/multiplex_options.h"

#include <cstdio>

#include "ts/mjd_time.h"

namespace tavrel::cli {
namespace {

// "YYYY-MM-DD hh:mm:ss" as a broadcast date and time.
MjdTime ParseStart(const std::string& text) {
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            6 ||
        y < 1900 || y > 2037 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0) {
        throw UsageError{"--start needs \"YYYY-MM-DD hh:mm:ss\", not '" + text + "'"};
    }
    const CalendarDate back = DateFromMjd(MjdFromDate(mo, y, d));
    if (back.day != d || back.month != mo) {
        throw UsageError{"--start names a day that does not exist: '" + text + "'"};
    }
    return sim::MultiplexConfig::StartAt(y, mo, d, h, mi, s);
}

}  // namespace

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
        config.start = ParseStart(walk.Value(a));
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
