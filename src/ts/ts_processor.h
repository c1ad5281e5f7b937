#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "capture/stream_stats.h"
#include "databroadcast/carousel_store.h"
#include "ts/broadcast_time.h"
#include "ts/event_store.h"
#include "ts/output_filter.h"
#include "ts/packet_header.h"
#include "ts/processor_callback.h"
#include "ts/program_entries.h"
#include "ts/section_assembler.h"
#include "ts/service_name_table.h"
#include "ts/version_table.h"

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
    uint8_t component_tag = 0;               // from a stream identifier descriptor
    uint16_t program_number = 0;             // the programme whose PAT entry or PMT named it
    SectionAssembly section;
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
    uint16_t TransportStreamId() const { return transport_stream_id_; }
    // Programmes of the last PAT, in section order, programme 0 excluded.
    const std::vector<ProgramEntry>& PatList() const { return pat_list_; }
    // Data-carousel PIDs of each programme's last PMT.
    const std::map<uint16_t, std::vector<uint16_t>>& CarouselPids() const { return carousel_pids_; }
    // Carousel PIDs that the last PMT dropped from its programme.
    const std::vector<uint16_t>& VanishedCarouselPids() const { return vanished_carousel_pids_; }
    // The data-carousel store; the write command and the service window reach it from their
    // own threads (it locks itself).
    CCarouselStore& CarouselStore() { return carousel_store_; }
    const CCarouselStore& CarouselStore() const { return carousel_store_; }
    // Where the store's notifications (0x50 to 0x56) go; the owner registers the same
    // callback as for the outputs.
    void SetCarouselCallback(ProcessorOutputCallback callback, void* user) {
        carousel_store_.SetNotificationCallback(callback, user);
    }
    // Bytes carried over to the next Input (less than one unit, or than the search window).
    uint32_t PendingBytes() const { return pending_size_; }
    // Units cut from the stream so far (dropped null packets included), and how many of them
    // were null packets.
    uint64_t UnitsSeen() const { return units_seen_; }
    uint64_t NullUnits() const { return null_units_; }

    // The name of a service from the SDTs, NUL-terminated Shift_JIS cut to the destination:
    // 1 when the service is known, else 0 with the destination untouched. Any thread.
    int ServiceName(uint16_t service_id, std::span<char> destination) const {
        return service_names_.Lookup(service_id, destination);
    }
    int ServiceName(uint16_t service_id, char* destination, uint32_t size) const {
        return ServiceName(service_id, std::span<char>(destination, destination ? size : 0));
    }
    // The programme events of the EITs; the store locks itself, any thread.
    CEventStore& EventStore() { return event_store_; }
    const CEventStore& EventStore() const { return event_store_; }
    // The time of the last time section (all zero before the first). Any thread.
    BroadcastTime BroadcastNow() const {
        return MakeBroadcastTime(
            BroadcastClock::Unpack(broadcast_clock_.load(std::memory_order_relaxed)));
    }

private:
    struct Consumed {
        size_t bytes;
        bool discard_all;  // no packet grid: everything held is thrown away
    };

    // The table handler a PID's sections go to.
    enum class TableHandler : uint8_t { kNone, kPat, kPmt, kNit, kSdt, kEit, kTime, kCarousel };
    struct SectionDispatch;

    Consumed Process(const uint8_t* data, size_t size, StreamStats& stats);
    void PacketStep(const uint8_t* unit, uint32_t length, StreamStats& stats);
    TableHandler ChooseHandler(uint16_t pid) const;
    void DispatchSection(const PacketHeader& header, const uint8_t* unit);
    int CallHandler(TableHandler handler, const PacketHeader& header, const SectionHeader& section,
                    SectionBuffer& buffer);
    void OutputStage(const PacketHeader& header, const uint8_t* unit, uint32_t length);

    // Copies the complete section at the front of the buffer into the scratch block;
    // empty when fewer bytes are held.
    std::span<const uint8_t> TakeSection(const SectionHeader& section, SectionBuffer& buffer);
    int HandlePat(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    int HandlePmt(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    int HandleCarousel(const PacketHeader& header, const SectionHeader& section,
                       SectionBuffer& buffer);
    int HandleNit(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    int HandleSdt(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    int HandleEit(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    int HandleTime(const PacketHeader& header, const SectionHeader& section, SectionBuffer& buffer);
    // Rewrites the PAT in a private copy of a PID 0 unit to list only the programmes the
    // output keeps. False when the result would not fit into the unit.
    bool RewritePat(const ActiveOutput& output, uint8_t* unit) const;

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
    uint64_t units_seen_ = 0;
    uint64_t null_units_ = 0;

    std::unique_ptr<uint8_t[]> scratch_;  // one complete section, for the table handlers
    VersionTable versions_;
    // Set by a handler that found its section to be a repeat it ignores; nothing changed.
    bool repeat_ = false;
    uint16_t transport_stream_id_ = 0;  // 0 until the first PAT
    std::vector<ProgramEntry> pat_list_;
    std::map<uint16_t, std::vector<uint16_t>> carousel_pids_;
    std::vector<uint16_t> vanished_carousel_pids_;
    CCarouselStore carousel_store_;
    std::atomic<uint64_t> broadcast_clock_{0};  // BroadcastClock::Pack of the last time section
    CEventStore event_store_;
    ServiceNameTable service_names_;
};

}  // namespace tavrel
