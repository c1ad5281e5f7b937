#include "ts/ts_processor.h"

#include <algorithm>
#include <cstring>

namespace tavrel {

CTsProcessor::CTsProcessor() : scratch_(std::make_unique<uint8_t[]>(SectionBuffer::kLimit)) {
    Reset(true);
    ResetOutputs();
}

CTsProcessor::~CTsProcessor() {
    Reset(false);
}

void CTsProcessor::Reset(bool recreate) {
    for (PidState& state : pids_) {
        state.section.Release();
        state.kind = PidState::kUnknown;
        state.component_tag = 0;
        state.program_number = 0;
        state.last_continuity_counter = recreate ? 0xFF : 0;
    }
    transport_stream_id_ = 0;
    broadcast_clock_.store(0, std::memory_order_relaxed);
    versions_.Clear();
    pat_list_.clear();
    carousel_store_.ClearAll();
    event_store_.Clear();
    service_names_.Clear();
}

void CTsProcessor::SetOutputFilter(uint16_t number, uint32_t program_mode, const uint16_t* programs,
                                   uint32_t program_count, const uint16_t* pids,
                                   uint32_t pid_count) {
    outputs_.SetFilter(
        number, program_mode,
        programs ? std::span<const uint16_t>(programs, program_count) : std::span<const uint16_t>(),
        pids ? std::span<const uint16_t>(pids, pid_count) : std::span<const uint16_t>());
}

void CTsProcessor::Finish(StreamStats&) {
    Raise(kEventStream, 0, nullptr, 1);
}

// The input is held, conceptually, in one buffer of kInputLimit bytes that the packet loop
// drains completely before returning. Here only the carry-over is stored: a block is cut
// into units in place, which gives the same counts and the same units as buffering it whole.
void CTsProcessor::Input(uint32_t length, StreamStats& stats, const uint8_t* data) {
    if (length == 0) {
        return;
    }
    const uint32_t room = kInputLimit - pending_size_;
    if (length > room) {
        Increment(stats.counter_sy);  // the untaken tail is lost
        length = room;
    }

    if (pending_size_ > 0) {
        // Complete the carry-over from the front of the block and process it in the
        // pending area; whatever it leaves over that came from the block is then
        // processed again from the block itself.
        const uint32_t appended =
            std::min<uint32_t>(length, static_cast<uint32_t>(pending_.size()) - pending_size_);
        std::memcpy(pending_.data() + pending_size_, data, appended);
        const size_t total = pending_size_ + appended;
        const Consumed c = Process(pending_.data(), total, stats);
        if (c.discard_all) {
            pending_size_ = 0;
            return;
        }
        const size_t left = total - c.bytes;
        if (left <= appended) {
            pending_size_ = 0;
            data += appended - left;
            length -= static_cast<uint32_t>(appended - left);
        } else {
            // The block was too short to complete anything: keep all of it with the rest.
            std::memmove(pending_.data(), pending_.data() + c.bytes, left);
            pending_size_ = static_cast<uint32_t>(left);
            return;
        }
    }

    const Consumed c = Process(data, length, stats);
    if (c.discard_all) {
        return;
    }
    const size_t left = length - c.bytes;
    std::memcpy(pending_.data(), data + c.bytes, left);
    pending_size_ = static_cast<uint32_t>(left);
}

namespace {

// The unit length whose grid starts at p (three sync bytes in a row), or 0.
uint32_t GridAt(const uint8_t* p) {
    if (p[0] != kSyncByte) {
        return 0;
    }
    for (const uint32_t length : {188u, 192u, 204u}) {
        if (p[length] == kSyncByte && p[2 * length] == kSyncByte) {
            return length;
        }
    }
    return 0;
}

}  // namespace

CTsProcessor::Consumed CTsProcessor::Process(const uint8_t* data, size_t size, StreamStats& stats) {
    size_t pos = 0;
    uint32_t length = stats.packet_length.load(std::memory_order_relaxed);
    for (;;) {
        if (length == 0) {
            if (size - pos < kSearchWindow) {
                break;
            }
            const uint8_t* window = data + pos;
            uint32_t offset = 0;
            for (; offset < 204; ++offset) {
                length = GridAt(window + offset);
                if (length != 0) {
                    break;
                }
            }
            if (length == 0) {
                return {size, true};
            }
            stats.packet_length.store(length, std::memory_order_relaxed);
            pos += offset;
        }
        while (size - pos >= length) {
            if (data[pos] != kSyncByte) {
                Increment(stats.sync_errors);
                length = 0;
                stats.packet_length.store(0, std::memory_order_relaxed);
                break;
            }
            PacketStep(data + pos, length, stats);
            pos += length;
        }
        if (length != 0) {
            break;
        }
    }
    return {pos, false};
}

void CTsProcessor::PacketStep(const uint8_t* unit, uint32_t length, StreamStats& stats) {
    const PacketHeader header = ParsePacketHeader(unit);
    ++units_seen_;
    if (header.transport_scrambling_control != 0) {
        Increment(stats.scrambled);
    }
    if (header.sync_byte != kSyncByte) {
        return;
    }
    if (header.pid == kNullPid) {
        ++null_units_;
        if (keep_null_packets == 0) {
            return;
        }
    } else {
        PidState& state = pids_[header.pid];
        if (state.last_continuity_counter != 0xFF && header.payload_unit_start_indicator &&
            header.continuity_counter != ((state.last_continuity_counter + 1) & 0x0F)) {
            Increment(stats.discontinuities);
        }
        state.last_continuity_counter = header.continuity_counter;
    }
    DispatchSection(header, unit);
    OutputStage(header, unit, length);
}

CTsProcessor::TableHandler CTsProcessor::ChooseHandler(uint16_t pid) const {
    if (!decode_tables) {
        // The broadcast clock is wanted even when no table is.
        return pid == 0x0014 ? TableHandler::kTime : TableHandler::kNone;
    }
    switch (pid) {
        case 0x0000:
            return TableHandler::kPat;
        case 0x0001:  // CAT
        case 0x0022:
        case 0x0023:
            return TableHandler::kNone;
        case 0x0011:
            return TableHandler::kSdt;
        case 0x0012:
        case 0x0026:
        case 0x0027:
            return TableHandler::kEit;
        case 0x0014:
            return TableHandler::kTime;
        default:
            break;
    }
    switch (pids_[pid].kind) {
        case PidState::kPmt:
            return TableHandler::kPmt;
        case PidState::kNit:
        case PidState::kOtherNetwork:
            return TableHandler::kNit;
        case PidState::kDataCarousel:
            return TableHandler::kCarousel;
        default:
            return TableHandler::kNone;
    }
}

// Calls the chosen table handler for a complete section, and remembers sections that the
// handler found to be plain repeats so that their next copies skip the CRC and the handler.
struct CTsProcessor::SectionDispatch {
    CTsProcessor& processor;
    TableHandler handler;
    SectionAssembly& assembly;

    bool KnownRepeat(const SectionHeader&, std::span<const uint8_t> bytes) const {
        const RepeatMemo* memo = assembly.repeat.get();
        return memo != nullptr && memo->handler == static_cast<uint8_t>(handler) &&
               memo->epoch == processor.versions_.Epoch() && memo->length == bytes.size() &&
               std::memcmp(memo->bytes.data(), bytes.data(), memo->length) == 0;
    }

    int operator()(const PacketHeader& header, const SectionHeader& section,
                   SectionBuffer& buffer) {
        processor.repeat_ = false;
        const int result = processor.CallHandler(handler, header, section, buffer);
        if (result && processor.repeat_) {
            if (!assembly.repeat) {
                assembly.repeat = std::make_unique<RepeatMemo>();
            }
            RepeatMemo& memo = *assembly.repeat;
            memo.epoch = processor.versions_.Epoch();
            memo.handler = static_cast<uint8_t>(handler);
            memo.length = section.TotalLength();
            std::memcpy(memo.bytes.data(), processor.scratch_.get(), memo.length);
        }
        return result;
    }
};

// The one place where a packet is handed to section assembly.
void CTsProcessor::DispatchSection(const PacketHeader& header, const uint8_t* unit) {
    const TableHandler handler = ChooseHandler(header.pid);
    if (handler == TableHandler::kNone) {
        return;
    }
    SectionAssembly& assembly = pids_[header.pid].section;
    Assemble(assembly, header, std::span<const uint8_t, kTsPayloadSize>(unit + 4, kTsPayloadSize),
             SectionDispatch{*this, handler, assembly});
}

int CTsProcessor::CallHandler(TableHandler handler, const PacketHeader& header,
                              const SectionHeader& section, SectionBuffer& buffer) {
    switch (handler) {
        case TableHandler::kPat:
            return HandlePat(header, section, buffer);
        case TableHandler::kPmt:
            return HandlePmt(header, section, buffer);
        case TableHandler::kNit:
            return HandleNit(header, section, buffer);
        case TableHandler::kSdt:
            return HandleSdt(header, section, buffer);
        case TableHandler::kEit:
            return HandleEit(header, section, buffer);
        case TableHandler::kTime:
            return HandleTime(header, section, buffer);
        case TableHandler::kCarousel:
            return HandleCarousel(header, section, buffer);
        case TableHandler::kNone:
            break;
    }
    return 0;
}

std::span<const uint8_t> CTsProcessor::TakeSection(const SectionHeader& section,
                                                   SectionBuffer& buffer) {
    const uint32_t total = section.TotalLength();
    if (buffer.Read(scratch_.get(), total, true) < total) {
        return {};
    }
    return {scratch_.get(), total};
}

void CTsProcessor::OutputStage(const PacketHeader& header, const uint8_t* unit, uint32_t length) {
    if (callback_ == nullptr) {
        return;
    }
    const std::vector<ActiveOutput>& outputs = outputs_.Active();
    if (header.pid != 0) {
        for (const ActiveOutput& output : outputs) {
            if (output.Passes(header.pid)) {
                callback_(kEventPacket, output.number, unit, length, user_);
            }
        }
        return;
    }
    // PAT units: an output limited to some programmes gets a private, rewritten copy.
    for (const ActiveOutput& output : outputs) {
        if (!output.Passes(0)) {
            continue;
        }
        if (output.programs.empty()) {
            callback_(kEventPacket, output.number, unit, length, user_);
            continue;
        }
        uint8_t copy[204];
        std::memcpy(copy, unit, length);
        if (!RewritePat(output, copy)) {
            continue;  // sending the received PAT would show the services this output hides
        }
        callback_(kEventPacket, output.number, copy, length, user_);
    }
}

}  // namespace tavrel
