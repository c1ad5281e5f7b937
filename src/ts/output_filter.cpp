#include "ts/output_filter.h"

#include <algorithm>

namespace tavrel {

bool ActiveOutput::HasProgram(uint16_t program) const {
    return std::binary_search(programs.begin(), programs.end(), program);
}

OutputTable::OutputTable() {
    ResetOutputs();
}

int OutputTable::Add(uint16_t number) {
    std::lock_guard lock(mutex_);
    if (outputs_.contains(number)) {
        return 0;
    }
    outputs_[number].number = number;
    Publish();
    return 1;
}

void OutputTable::SetFilter(uint16_t number, uint32_t program_mode,
                            std::span<const uint16_t> programs, std::span<const uint16_t> pids) {
    std::lock_guard lock(mutex_);
    auto it = outputs_.find(number);
    if (it == outputs_.end()) {
        return;
    }
    OutputFilter& filter = it->second;
    filter.program_mode = program_mode;
    filter.programs.clear();
    filter.programs.insert(programs.begin(), programs.end());
    filter.pid_mode = 1;  // the filter operation always drops the listed PIDs
    filter.pids.clear();
    filter.pids.insert(pids.begin(), pids.end());
    Publish();
}

void OutputTable::ClearFilter(uint16_t number) {
    std::lock_guard lock(mutex_);
    auto it = outputs_.find(number);
    if (it == outputs_.end()) {
        return;
    }
    it->second.programs.clear();
    it->second.pids.clear();
    Publish();
}

void OutputTable::ResetOutputs() {
    std::lock_guard lock(mutex_);
    outputs_.clear();
    outputs_[0].number = 0;
    Publish();
}

std::vector<OutputFilter> OutputTable::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<OutputFilter> out;
    out.reserve(outputs_.size());
    for (const auto& [number, filter] : outputs_) {
        out.push_back(filter);
    }
    return out;
}

void OutputTable::Refresh() {
    std::lock_guard lock(mutex_);
    active_generation_ = generation_.load(std::memory_order_acquire);
    active_.clear();
    active_.reserve(outputs_.size());
    for (const auto& [number, filter] : outputs_) {
        ActiveOutput out;
        out.number = number;
        out.program_mode = filter.program_mode;
        out.programs.assign(filter.programs.begin(), filter.programs.end());
        out.pid_filter = !filter.pids.empty();
        out.pid_drop = filter.pid_mode != 0;
        for (const uint16_t pid : filter.pids) {
            const uint16_t p = pid & 0x1FFF;  // a PID never has more than 13 bits
            if (p == pid) {
                out.pid_bits[p >> 6] |= uint64_t{1} << (p & 63);
            }
        }
        active_.push_back(std::move(out));
    }
}

}  // namespace tavrel
