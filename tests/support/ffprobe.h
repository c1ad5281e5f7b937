#pragma once

// ffprobe as an independent witness of what a file holds, where it is installed.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

namespace tavrel::testing {

inline bool FfprobeInstalled() {
    return std::system("command -v ffprobe > /dev/null 2>&1") == 0;
}

struct FfprobeReport {
    struct Programme {
        int64_t pmt_pid = 0;
        std::set<int64_t> pids;  // of its streams
    };
    nlohmann::json json;                      // its programmes and streams as ffprobe prints them
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
    FfprobeReport report{nlohmann::json::parse(in, nullptr, false), {}};
    if (report.json.is_discarded()) {
        return std::nullopt;
    }
    for (auto& p : report.json["programs"]) {
        if (p["program_num"] == 0) {
            continue;  // a service known only from the SDT, not from the PAT
        }
        auto& programme = report.programmes[p["program_id"].get<int64_t>()];
        programme.pmt_pid = p["pmt_pid"].get<int64_t>();
        for (auto& s : p["streams"]) {
            programme.pids.insert(std::stoll(s["id"].get<std::string>(), nullptr, 16));
        }
    }
    return report;
}

}  // namespace tavrel::testing
