#include "cli/analyzer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <span>

#include "capture/recorder.h"
#include "databroadcast/resource_writer.h"
#include "platform/file.h"
#include "platform/text_encoding.h"

namespace tavrel::cli {
namespace {

std::string NameToUtf8(const void* data) {
    // Names arrive NUL-terminated; the processor's buffers are never longer than 30 bytes.
    const auto* text = static_cast<const char*>(data);
    return ShiftJisToUtf8(std::string_view(text, strnlen(text, 256)));
}

std::string FixedTextToUtf8(std::span<const char> text) {
    return ShiftJisBufferToUtf8(text);
}

}  // namespace

EventReport ToEventReport(const EventRecord& r) {
    EventReport e;
    e.service_id = r.service_id;
    e.event_id = r.event_id;
    e.kind = r.kind;
    e.version = r.version;
    e.start = r.start;
    if (r.duration != kUndefinedDuration) {
        e.duration = r.duration;
    }
    e.name = FixedTextToUtf8(r.name);
    e.text = FixedTextToUtf8(r.text);
    e.video_component_type = r.video_component_type;
    e.audio_component_type = r.audio_component_type;
    return e;
}

Analyzer::Analyzer(const AnalyzeOptions& options, const Clock& clock)
    : options_(options), clock_(clock), processor_(std::make_unique<CTsProcessor>()) {
    // Switched as a capture with every decoding option on, with the reservation output too.
    processor_->AddOutput(1);
    processor_->decode_tables = 1;
    processor_->data_broadcast = 1;
    processor_->program_guide = 1;
    processor_->keep_null_packets = options.keep_null ? 1 : 0;
    processor_->SetOutputCallback(&Analyzer::Callback, this);
}

Analyzer::~Analyzer() = default;

void Analyzer::UsePmtsFrom(const std::map<uint16_t, std::vector<StreamEntry>>& pmts) {
    ServiceFilter filter;
    if (options_.keep_service) {
        filter = KeepServiceFilter(*options_.keep_service, pmts);
    } else if (!options_.drop_services.empty()) {
        filter = DropServicesFilter(options_.drop_services, pmts);
    } else {
        return;
    }
    processor_->SetOutputFilter(0, filter.program_mode, filter.programs.data(),
                                static_cast<uint32_t>(filter.programs.size()), filter.pids.data(),
                                static_cast<uint32_t>(filter.pids.size()));
    filter_applied_ = true;
}

void Analyzer::TryApplyFilter() {
    if (filter_applied_ || (!options_.keep_service && options_.drop_services.empty()) ||
        pat_.empty()) {
        return;
    }
    for (const ProgramEntry& p : pat_) {
        if (!pmts_.contains(p.program_number)) {
            return;
        }
    }
    UsePmtsFrom(pmts_);
}

void Analyzer::Feed(const uint8_t* data, size_t size) {
    report_.stream.bytes += size;
    while (size > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, 0x8000));
        processor_->Input(n, stats_, data);
        data += n;
        size -= n;
    }
}

void Analyzer::Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
    static_cast<Analyzer*>(user)->OnEvent(type, a, data, length);
}

void Analyzer::OnEvent(uint32_t type, uint32_t a, const void* data, uint32_t length) {
    switch (type) {
        case kEventPacket:
            if (a == 0) {
                ++report_.stream.output_packets;
                if (recorder_ != nullptr && !recorder_->Write(std::span<const uint8_t>(
                                                static_cast<const uint8_t*>(data), length))) {
                    record_failed_ = true;
                }
            }
            break;
        case kEventStream:
            if (length == 0) {
                // A new transport stream: what was learned belongs to the old one.
                report_.stream.transport_stream_changes.push_back(static_cast<uint16_t>(a));
                pat_.clear();
                pmts_.clear();
                report_.service_names.clear();
                event_services_.clear();
            }
            break;
        case kEventPrograms: {
            const auto* entries = static_cast<const ProgramEntry*>(data);
            pat_.assign(entries, entries + length);
            TryApplyFilter();
            break;
        }
        case kEventStreams: {
            const auto* entries = static_cast<const StreamEntry*>(data);
            pmts_[static_cast<uint16_t>(a)].assign(entries, entries + length);
            all_pmts_[static_cast<uint16_t>(a)] = pmts_[static_cast<uint16_t>(a)];
            TryApplyFilter();
            break;
        }
        case kEventNetwork:
            if (length == 1) {
                report_.selection_information.push_back(static_cast<uint16_t>(a));
            } else {
                report_.networks[static_cast<uint16_t>(a)].name = NameToUtf8(data);
            }
            break;
        case kEventTransportStream: {
            SatelliteDelivery delivery;
            std::memcpy(&delivery, data, sizeof delivery);
            report_.networks[static_cast<uint16_t>(a)]
                .transport_streams[static_cast<uint16_t>(length)] = delivery;
            break;
        }
        case kEventPresentFollowing:
        case kEventSchedule:
            event_services_.insert(static_cast<uint16_t>(a));
            break;
        case kEventServiceName:
            report_.service_names[static_cast<uint16_t>(a)] = NameToUtf8(data);
            break;
        case kEventTime: {
            uint32_t mjd_seconds[2];
            std::memcpy(mjd_seconds, data, sizeof mjd_seconds);
            const std::pair<uint32_t, uint32_t> t{mjd_seconds[0], mjd_seconds[1]};
            ++report_.time.count;
            if (!report_.time.first) {
                report_.time.first = t;
            }
            report_.time.last = t;
            break;
        }
        default:
            break;
    }
}

bool Analyzer::Finish() {
    processor_->Finish(stats_);
    StreamReport& s = report_.stream;
    s.packet_length = stats_.packet_length;
    s.packets = processor_->UnitsSeen();
    s.null_packets = processor_->NullUnits();
    s.sync_errors = stats_.sync_errors;
    s.discontinuities = stats_.discontinuities;
    s.scrambled = stats_.scrambled;
    s.counter_sy = stats_.counter_sy;
    s.counter_st = stats_.counter_st;
    if (!pat_.empty() || !s.transport_stream_changes.empty()) {
        s.transport_stream_id = processor_->TransportStreamId();
    }
    report_.programmes.clear();
    for (const ProgramEntry& p : pat_) {
        ProgrammeReport programme;
        programme.service_id = p.program_number;
        programme.pmt_pid = p.pmt_pid;
        if (auto it = report_.service_names.find(p.program_number);
            it != report_.service_names.end()) {
            programme.service_name = it->second;
        }
        if (auto it = pmts_.find(p.program_number); it != pmts_.end()) {
            programme.streams.emplace();
            for (const StreamEntry& e : it->second) {
                StreamItem item;
                item.stream_type = e.stream_type;
                item.pid = e.elementary_pid;
                item.component_tag = processor_->Pid(e.elementary_pid).component_tag;
                programme.streams->push_back(item);
            }
        }
        report_.programmes.push_back(std::move(programme));
    }
    ReportEvents();
    ReportCarousels();
    if (!options_.extract_dir.empty()) {
        return ExtractCarousels();
    }
    return true;
}

void Analyzer::ReportCarousels() {
    const CCarouselStore& store = processor_->CarouselStore();
    report_.carousels.clear();
    for (CarouselStatus& status : store.Carousels()) {
        CarouselReport r;
        r.status = std::move(status);
        report_.carousels.push_back(std::move(r));
    }
    store.VisitResources([&](uint64_t key, const ResourceRecord&) {
        for (CarouselReport& r : report_.carousels) {
            if (ServiceIdOfKey(key) == r.status.service_id &&
                ComponentTagOfKey(key) == r.status.component_tag) {
                ++r.resources;
            }
        }
    });
}

bool Analyzer::ExtractCarousels() {
    std::error_code error;
    std::filesystem::create_directories(options_.extract_dir, error);
    if (!IsDirectory(options_.extract_dir)) {
        return false;
    }
    // One reading of the clock for the whole command: the carousels of one service must not
    // land in two folders because a second ticked over between them.
    const MjdTime now = NowLocal(clock_);
    for (CarouselReport& r : report_.carousels) {
        const std::string folder =
            ResourceFolderPath(options_.extract_dir, r.status.service_id, now);
        if (processor_->CarouselStore().WriteResources(folder, r.status.pid) == 1) {
            r.extracted_to = folder;
        }
    }
    return true;
}

void Analyzer::ReportEvents() {
    CEventStore& store = processor_->EventStore();
    report_.events.clear();
    const std::optional<std::pair<uint32_t, uint32_t>> now = report_.time.last;
    for (const uint16_t service : event_services_) {
        std::vector<EventRecord> sorted;
        if (!store.SortedEvents(service, sorted)) {
            continue;
        }
        ServiceEventsReport r;
        r.service_id = service;
        r.count = sorted.size();
        if (options_.all_events) {
            for (const EventRecord& e : sorted) {
                r.events.push_back(ToEventReport(e));
            }
        }
        if (now) {
            // What a viewer would see on air at the last broadcast time, and what comes next.
            if (auto present = store.EventAt(service, {now->first, now->second})) {
                r.present = ToEventReport(*present);
                if (present->EndDefined()) {
                    MjdTime next = present->end;
                    AddSeconds(next, 1);
                    if (auto following = store.EventAt(service, next)) {
                        r.following = ToEventReport(*following);
                    }
                }
            }
        }
        report_.events.push_back(std::move(r));
    }
}

}  // namespace tavrel::cli
