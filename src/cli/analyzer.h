#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/stream_stats.h"
#include "databroadcast/carousel_store.h"
#include "platform/clock.h"
#include "ts/event_record.h"
#include "ts/program_entries.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel {
class Recorder;
}

namespace tavrel::cli {

struct AnalyzeOptions {
    std::string input;  // a file, or "-" for standard input
    bool json = false;
    bool keep_null = false;
    bool all_events = false;
    std::string extract_dir;               // empty: no extraction
    std::string output;                    // empty: output 0 is not written
    std::vector<uint16_t> drop_services;   // the service window's filter
    std::optional<uint16_t> keep_service;  // the reservation limitation
};

struct StreamReport {
    uint64_t bytes = 0;
    uint32_t packet_length = 0;
    uint64_t packets = 0;       // units cut from the stream
    uint64_t null_packets = 0;  // of which null packets
    uint32_t sync_errors = 0;
    uint32_t discontinuities = 0;
    uint32_t scrambled = 0;
    uint32_t counter_sy = 0;
    uint32_t counter_st = 0;
    std::optional<uint16_t> transport_stream_id;
    std::vector<uint16_t> transport_stream_changes;  // ids of event 2, in order
    uint64_t output_packets = 0;                     // units delivered on output 0
};

struct StreamItem {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    std::optional<uint8_t> component_tag;
};

struct ProgrammeReport {
    uint16_t service_id = 0;
    uint16_t pmt_pid = 0;
    std::optional<std::string> service_name;  // UTF-8
    std::optional<std::vector<StreamItem>> streams;
};

struct TimeReport {
    uint64_t count = 0;
    std::optional<std::pair<uint32_t, uint32_t>> first;  // MJD, seconds of the day
    std::optional<std::pair<uint32_t, uint32_t>> last;
};

struct NetworkReport {
    std::optional<std::string> name;  // UTF-8; none until the section's event 18
    // transport_stream_id → the delivery of that stream (all zero without a descriptor)
    std::map<uint16_t, SatelliteDelivery> transport_streams;
};

struct EventReport {
    uint16_t service_id = 0;
    uint16_t event_id = 0;
    uint8_t kind = 0;
    uint8_t version = 0;
    MjdTime start;
    std::optional<uint32_t> duration;  // none when undefined
    std::string name;                  // UTF-8
    std::string text;
    uint8_t video_component_type = 0;
    uint8_t audio_component_type = 0;
};

struct ServiceEventsReport {
    uint16_t service_id = 0;
    size_t count = 0;
    std::vector<EventReport> events;  // with --events: every event, by start
    std::optional<EventReport> present;
    std::optional<EventReport> following;
};

struct CarouselReport {
    CarouselStatus status;
    size_t resources = 0;
    std::optional<std::string> extracted_to;  // the folder written with --extract
};

struct AnalysisReport {
    StreamReport stream;
    std::vector<ProgrammeReport> programmes;
    std::map<uint16_t, std::string> service_names;  // every event 48, UTF-8
    std::map<uint16_t, NetworkReport> networks;
    std::vector<uint16_t> selection_information;  // table_id_extension of each table 0x7F
    TimeReport time;
    std::vector<ServiceEventsReport> events;
    std::vector<CarouselReport> carousels;
};

EventReport ToEventReport(const EventRecord& record);

// Runs the stream processor over a byte stream the way a capture does (32 KiB blocks, tables,
// programme guide and data broadcast on) and keeps what it reports.
class Analyzer {
public:
    // The clock names the extraction folders.
    explicit Analyzer(const AnalyzeOptions& options, const Clock& clock = SystemClock::Instance());
    ~Analyzer();

    // Sets the output filter for the services to drop or keep, from the PMTs seen by a
    // first pass over the same stream; without it, the filter is set as soon as every
    // programme's PMT has arrived.
    void UsePmtsFrom(const std::map<uint16_t, std::vector<StreamEntry>>& pmts);
    // Writes output 0 to this recorder (already open).
    void RecordTo(Recorder* recorder) { recorder_ = recorder; }

    void Feed(const uint8_t* data, size_t size);
    // Ends the stream and builds the report; with an extraction folder, writes the data
    // broadcast's resources there first. False when that folder cannot be made.
    bool Finish();

    const AnalysisReport& Report() const { return report_; }
    const CTsProcessor& Processor() const { return *processor_; }
    // Streams of each programme by the last PMT seen.
    const std::map<uint16_t, std::vector<StreamEntry>>& Pmts() const { return pmts_; }
    // The same over the whole input, across changes of transport stream.
    const std::map<uint16_t, std::vector<StreamEntry>>& AllPmts() const { return all_pmts_; }
    bool FilterApplied() const { return filter_applied_; }

private:
    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user);
    void OnEvent(uint32_t type, uint32_t a, const void* data, uint32_t length);
    void TryApplyFilter();
    void ReportEvents();
    void ReportCarousels();
    bool ExtractCarousels();

    const AnalyzeOptions& options_;
    const Clock& clock_;
    std::unique_ptr<CTsProcessor> processor_;
    StreamStats stats_;
    AnalysisReport report_;
    std::map<uint16_t, std::vector<StreamEntry>> pmts_;
    std::map<uint16_t, std::vector<StreamEntry>> all_pmts_;
    std::vector<ProgramEntry> pat_;
    std::set<uint16_t> event_services_;  // services the event store was given events of
    Recorder* recorder_ = nullptr;
    bool filter_applied_ = false;
    bool record_failed_ = false;
};

// What output 0 must drop for the options' service choice, given every programme's streams.
struct ServiceFilter {
    uint32_t program_mode = 0;
    std::vector<uint16_t> programs;
    std::vector<uint16_t> pids;
};
// The service window's filter: drop these services and every elementary PID of theirs that no
// kept service uses.
ServiceFilter DropServicesFilter(const std::vector<uint16_t>& dropped,
                                 const std::map<uint16_t, std::vector<StreamEntry>>& pmts);
// The reservation limitation: keep one service, drop every elementary PID of the other
// programmes that the kept one does not use.
ServiceFilter KeepServiceFilter(uint16_t kept,
                                const std::map<uint16_t, std::vector<StreamEntry>>& pmts);

}  // namespace tavrel::cli
