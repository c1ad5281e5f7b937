#pragma once

// ffprobe as an independent witness of what a recorded file holds, where it is installed.
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

// The programmes of the file's PAT (programme number -> the PIDs of its streams) as ffprobe
// reads them; none when ffprobe fails or prints no JSON.
inline std::optional<std::map<int64_t, std::set<int64_t>>> FfprobeProgrammes(
    const std::string& path) {
    const std::string out = path + ".probe.json";
    const std::string command =
        "ffprobe -v error -show_programs -of json '" + path + "' > '" + out + "'";
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    std::ifstream in(out);
    const auto json = JsonValue::Parse(std::string(std::istreambuf_iterator<char>(in), {}));
    if (!json) {
        return std::nullopt;
    }
    std::map<int64_t, std::set<int64_t>> programmes;
    for (const JsonValue& p : (*json)["programs"].Arr()) {
        if (p["program_num"].Int() == 0) {
            continue;  // a service known only from the SDT, not from the PAT
        }
        auto& pids = programmes[p["program_id"].Int()];
        for (const JsonValue& s : p["streams"].Arr()) {
            pids.insert(std::stoll(s["id"].Str(), nullptr, 16));
        }
    }
    return programmes;
}

}  // namespace tavrel::testing
