#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <vector>

namespace tavrel {

// The service filter of one numbered output.
struct OutputFilter {
    uint16_t number = 0;
    uint32_t program_mode = 0;  // 0: the rewritten PAT keeps the listed programmes; 1: drops them
    std::set<uint16_t> programs;
    uint32_t pid_mode = 0;  // 0: only listed PIDs pass; 1: listed PIDs are dropped
    std::set<uint16_t> pids;
};

// What the packet loop reads for one output: the same filter in a form that answers
// "does this PID pass" with one bit test.
struct ActiveOutput {
    uint16_t number = 0;
    uint32_t program_mode = 0;
    std::vector<uint16_t> programs;  // sorted
    bool pid_filter = false;         // false: the PID set is empty and everything passes
    bool pid_drop = false;           // mode non-zero: listed PIDs are dropped
    std::array<uint64_t, 8192 / 64> pid_bits{};

    bool PidListed(uint16_t pid) const { return (pid_bits[pid >> 6] >> (pid & 63)) & 1; }
    bool Passes(uint16_t pid) const { return !pid_filter || PidListed(pid) != pid_drop; }
    bool HasProgram(uint16_t program) const;
};

// The outputs of a processor. Filter operations may come from any thread (the service window,
// the reservation engine) while the packet loop walks the outputs. They change a guarded
// master copy and bump a generation counter; the packet loop picks up a new copy only
// between two packets, so one packet's outputs always see one consistent set of filters and
// the loop itself pays one atomic load per packet.
class OutputTable {
public:
    OutputTable();

    // 1 when created, 0 when the number existed.
    int Add(uint16_t number);
    void SetFilter(uint16_t number, uint32_t program_mode, std::span<const uint16_t> programs,
                   std::span<const uint16_t> pids);
    void ClearFilter(uint16_t number);
    // Removes every output and creates output 0.
    void ResetOutputs();
    // A copy of the master filters, in ascending output number.
    std::vector<OutputFilter> Snapshot() const;

    // Packet loop only: the outputs to use for the next packet.
    const std::vector<ActiveOutput>& Active() {
        if (generation_.load(std::memory_order_acquire) != active_generation_) {
            Refresh();
        }
        return active_;
    }

private:
    void Refresh();
    void Publish() { generation_.fetch_add(1, std::memory_order_release); }

    mutable std::mutex mutex_;
    std::map<uint16_t, OutputFilter> outputs_;
    std::atomic<uint64_t> generation_{1};
    uint64_t active_generation_ = 0;
    std::vector<ActiveOutput> active_;
};

}  // namespace tavrel
