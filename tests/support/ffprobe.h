#pragma once

// ffprobe as an independent witness of what a file holds, where it is installed.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "support/json_value.h"

namespace tavrel::testing {

inline bool FfprobeInstalled() {
    return std::system("command -v ffprobe > /dev/null 2>&1") == 0;
}

struct FfprobeReport {
    struct Programme {
        int64_t pmt_pid = 0;
        std::set<int64_t> pids;  // of its streams
    };
    JsonValue json;                           // its programmes and streams as ffprobe prints them
    std::map<int64_t, Programme> programmes;  // of the PAT, by programme number
};

// What ffprobe reads in the file; nothing when it fails or prints no JSON. It writes its report
// next to the file.
inline std::optional<FfprobeReport> Ffprobe(const std::string& path) {
    const std::string out = path + ".probe.json";
    const std::string command =
        "ffprobe -v error -show_programs -show_streams -of json '" + path + "' > '" + out + "'";
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    std::ifstream in(out);
    auto json = JsonValue::Parse(std::string(std::istreambuf_iterator<char>(in), {}));
    if (!json) {
        return std::nullopt;
    }
    FfprobeReport report{std::move(*json), {}};
    for (const JsonValue& p : report.json["programs"].Arr()) {
        if (p["program_num"].Int() == 0) {
            continue;  // a service known only from the SDT, not from the PAT
        }
        auto& programme = report.programmes[p["program_id"].Int()];
        programme.pmt_pid = p["pmt_pid"].Int();
        for (const JsonValue& s : p["streams"].Arr()) {
            programme.pids.insert(std::stoll(s["id"].Str(), nullptr, 16));
        }
    }
    return report;
}

}  // namespace tavrel::testing
