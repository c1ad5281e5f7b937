#include <algorithm>
#include <set>

#include "cli/analyzer.h"

namespace tavrel::cli {
namespace {

std::vector<uint16_t> Minus(const std::set<uint16_t>& a, const std::set<uint16_t>& b) {
    std::vector<uint16_t> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

}  // namespace

ServiceFilter DropServicesFilter(const std::vector<uint16_t>& dropped,
                                 const std::map<uint16_t, std::vector<StreamEntry>>& pmts) {
    std::set<uint16_t> dropped_pids, kept_pids;
    for (const auto& [program, streams] : pmts) {
        const bool drop = std::find(dropped.begin(), dropped.end(), program) != dropped.end();
        for (const StreamEntry& s : streams) {
            (drop ? dropped_pids : kept_pids).insert(s.elementary_pid);
        }
    }
    ServiceFilter f;
    f.program_mode = 1;
    f.programs = dropped;
    std::sort(f.programs.begin(), f.programs.end());
    f.programs.erase(std::unique(f.programs.begin(), f.programs.end()), f.programs.end());
    f.pids = Minus(dropped_pids, kept_pids);
    return f;
}

ServiceFilter KeepServiceFilter(uint16_t kept,
                                const std::map<uint16_t, std::vector<StreamEntry>>& pmts) {
    std::set<uint16_t> selected, others;
    for (const auto& [program, streams] : pmts) {
        for (const StreamEntry& s : streams) {
            (program == kept ? selected : others).insert(s.elementary_pid);
        }
    }
    ServiceFilter f;
    f.program_mode = 0;
    f.programs = {kept};
    f.pids = Minus(others, selected);
    return f;
}

}  // namespace tavrel::cli
