#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "capture/stream_stats.h"
#include "ts/output_filter.h"
#include "ts/packet_header.h"
#include "ts/processor_callback.h"

namespace tavrel {

// What the processor knows about one PID.
struct PidState {
    enum Kind : uint16_t {
        kUnknown = 0,
        kPmt = 2,             // PMT PID of a programme, from the PAT
        kNit = 64,            // NIT on PID 0x0010
        kOtherNetwork = 127,  // network PID other than 0x0010 (programme 0 of the PAT)
        kDataCarousel = 240,  // stream_type 0x0D in a PMT
    };

    uint16_t kind = kUnknown;
    uint8_t last_continuity_counter = 0xFF;  // 0xFF: none seen since the last reset
    uint8_t component_tag = 0;
    uint16_t program_number = 0;
    uint32_t collecting = 0;
};

// The transport-stream processor: finds the packet grid in a byte stream, counts what the
// status display shows, decodes the tables and delivers every packet to its numbered outputs
// through one callback. One instance per capture, driven by one thread; the filter
// operations may be called from any thread.
class CTsProcessor {
public:
    static constexpr uint32_t kInputLimit = 0xA00000;   // bytes not yet cut into packets
    static constexpr uint32_t kPacketLimit = 0x100000;  // packets waiting for the packet step
    static constexpr uint32_t kSearchWindow = 612;      // three of the largest units

    CTsProcessor();
    ~CTsProcessor();
    CTsProcessor(const CTsProcessor&) = delete;
    CTsProcessor& operator=(const CTsProcessor&) = delete;

    // Switches, set by the owner before the first Input; all off at construction.
    uint32_t decode_tables = 0;      // "DECODE_PSI"
    uint32_t data_broadcast = 0;     // "PROC_DATA"
    uint32_t program_guide = 0;      // "PROC_EPG"
    uint32_t keep_null_packets = 0;  // "NO_REJECT_NULLPACKET"

    void SetOutputCallback(ProcessorOutputCallback callback, void* user) {
        callback_ = callback;
        user_ = user;
    }

    // Takes any number of bytes of the stream.
    void Input(uint32_t length, StreamStats& stats, const uint8_t* data);
    void Input(std::span<const uint8_t> data, StreamStats& stats) {
        Input(static_cast<uint32_t>(data.size()), stats, data.data());
    }
    // End of the stream: raises event 2 with length 1.
    void Finish(StreamStats& stats);

    int AddOutput(uint16_t number) { return outputs_.Add(number); }
    // Lists may be null with a zero count.
    void SetOutputFilter(uint16_t number, uint32_t program_mode, const uint16_t* programs,
                         uint32_t program_count, const uint16_t* pids, uint32_t pid_count);
    void ClearOutputFilter(uint16_t number) { outputs_.ClearFilter(number); }
    void ResetOutputs() { outputs_.ResetOutputs(); }
    std::vector<OutputFilter> OutputFilters() const { return outputs_.Snapshot(); }

    // Empties every table; with recreate, readies the PIDs for a new stream.
    void Reset(bool recreate);

    const PidState& Pid(uint16_t pid) const { return pids_[pid & 0x1FFF]; }
    // Bytes carried over to the next Input (less than one unit, or than the search window).
    uint32_t PendingBytes() const { return pending_size_; }

private:
    struct Consumed {
        size_t bytes;
        bool discard_all;  // no packet grid: everything held is thrown away
    };

    Consumed Process(const uint8_t* data, size_t size, StreamStats& stats);
    void PacketStep(const uint8_t* unit, uint32_t length, StreamStats& stats);
    void DispatchSection(const PacketHeader& header, const uint8_t* unit);
    void OutputStage(const PacketHeader& header, const uint8_t* unit, uint32_t length);

    void Raise(uint32_t type, uint32_t a, const void* data, uint32_t length) {
        if (callback_ != nullptr) {
            callback_(type, a, data, length, user_);
        }
    }

    ProcessorOutputCallback callback_ = nullptr;
    void* user_ = nullptr;

    OutputTable outputs_;
    std::array<PidState, 8192> pids_{};

    // Carry-over between Input calls. The stream is cut into units straight from the caller's
    // block; only the few bytes that do not complete a unit (or a search window) wait here.
    std::array<uint8_t, 4096> pending_{};
    uint32_t pending_size_ = 0;

    uint16_t transport_stream_id_ = 0;
};

}  // namespace tavrel
