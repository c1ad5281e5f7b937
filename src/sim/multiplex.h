#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ts/event_record.h"
#include "ts/mjd_time.h"

namespace tavrel::sim {

// What a synthetic multiplex is made of, and how much of it.
struct MultiplexConfig {
    double seconds = 10.0;
    uint32_t packet_size = 188;      // 188, 192 (arrival stamp in front) or 204 (parity behind)
    uint64_t bitrate = 16'000'000;   // bits per second of the 188-byte packets
    MjdTime start = DefaultStart();  // broadcast clock at the first packet
    uint64_t seed = 1;

    // Faults, each counted exactly once by an analysis of the stream.
    uint32_t sync_errors = 0;
    uint32_t continuity_errors = 0;
    uint32_t scrambled_packets = 0;
    // From this moment on the multiplex is another transport stream, as after a channel change.
    std::optional<double> change_seconds;

    size_t chunk_bytes = 1u << 20;  // what Next hands out at most

    // 2024-04-01 20:00:00.
    static MjdTime DefaultStart();
    static MjdTime StartAt(int year, int month, int day, int hour, int minute, int second);
};

struct PlannedStream {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    uint8_t component_tag = 0;
};

// One programme. Texts are UTF-8 exactly as a decoder gives them back (full-width letters
// and digits, programme marks as bracketed text).
struct PlannedEvent {
    uint16_t event_id = 0;
    MjdTime start;
    uint32_t duration = 0;  // seconds, kUndefinedDuration when the end is not announced
    std::string name;
    std::string text;
    uint8_t video_component_type = 0;
    uint8_t audio_component_type = 0;
    // How long the programme really runs; equals duration unless that is undefined.
    uint32_t on_air_seconds = 0;
};

// One extracted resource of a module, as an analysis of the carousel should find it.
struct PlannedResource {
    std::string content_type;
    std::string location;  // empty for a module that is one resource
    std::vector<uint8_t> bytes;
};

struct PlannedModule {
    uint16_t module_id = 0;
    uint8_t version = 0;
    std::string content_type;          // Type descriptor text, empty when the module carries none
    bool compressed = false;           // sent zlib-compressed with a Compression Type descriptor
    uint32_t original_size = 0;        // size after inflating
    std::vector<uint8_t> sent;         // the module as its blocks carry it
    std::vector<uint8_t> module_info;  // its descriptors in the DII
    std::vector<PlannedResource> resources;
};

struct PlannedCarousel {
    uint16_t pid = 0;
    uint8_t component_tag = 0;
    uint32_t download_id = 0;
    uint16_t block_size = 0;
    std::vector<PlannedModule> modules;
};

struct PlannedService {
    uint16_t service_id = 0;
    uint8_t service_type = 0;
    std::string name;
    std::string provider;
    uint16_t pmt_pid = 0;
    uint16_t pcr_pid = 0;
    std::vector<PlannedStream> streams;
    std::vector<PlannedEvent> events;  // by start; the first is on air when the stream starts
    std::optional<PlannedCarousel> carousel;
};

struct PlannedTransportStream {
    uint16_t transport_stream_id = 0;
    uint16_t original_network_id = 0;
    // The unit carrying its first PAT; none for a stream only announced (SDT other, NIT).
    std::optional<uint64_t> first_unit;
    std::vector<PlannedService> services;
};

// A satellite delivery system descriptor, fields as they are sent (BCD where BCD is sent).
struct PlannedDelivery {
    uint16_t transport_stream_id = 0;
    uint32_t frequency_bcd = 0;  // 10 kHz units, eight digits
    uint16_t orbital_position_bcd = 0;
    bool east = true;
    uint8_t polarisation = 0;
    uint8_t modulation = 0;
    uint32_t symbol_rate_bcd = 0;  // 100 symbols/s units, seven digits
    uint8_t fec_inner = 0;
};

struct PlannedNetwork {
    uint16_t network_id = 0;
    std::string name;
    std::vector<PlannedDelivery> transport_streams;
};

// Faults as injected, with the indices of the units that carry them.
struct InjectedFaults {
    std::vector<uint64_t> sync_error_units;
    std::vector<uint64_t> continuity_error_units;
    std::vector<uint64_t> scrambled_units;
};

// Everything the generator put into the stream. The plan is complete at construction; the
// fields marked "as generated" grow while the stream is produced and are final once Done.
struct MultiplexManifest {
    uint32_t packet_size = 0;
    uint64_t bitrate = 0;
    MjdTime start;
    uint64_t total_units = 0;
    PlannedNetwork network;
    // The stream on air first, then the other one of the network: on air after a change,
    // otherwise only described by the SDT other.
    std::vector<PlannedTransportStream> transport_streams;
    std::optional<uint64_t> change_unit;

    // As generated.
    InjectedFaults faults;
    std::optional<uint64_t> change_byte_offset;  // where the unit of change_unit begins
    std::vector<MjdTime> tot_times;              // the time of every TOT sent, in order
    uint64_t units_written = 0;
    uint64_t bytes_written = 0;
    uint64_t null_units = 0;
};

// Writes a synthetic ISDB multiplex in chunks: PAT, NIT, SDT, EIT, TOT, PMTs, data
// carousels and PES filler of three services, null packets up to the bitrate, and the
// configured faults. The same configuration gives the same bytes.
class MultiplexGenerator {
public:
    // Throws std::invalid_argument for a configuration it cannot honour exactly.
    explicit MultiplexGenerator(const MultiplexConfig& config);
    ~MultiplexGenerator();
    MultiplexGenerator(const MultiplexGenerator&) = delete;
    MultiplexGenerator& operator=(const MultiplexGenerator&) = delete;

    // Replaces `chunk` with the next bytes of the stream (at most chunk_bytes, whole units);
    // false, with `chunk` empty, once the stream is complete.
    bool Next(std::vector<uint8_t>& chunk);
    // Hands the whole rest of the stream to `sink`, chunk by chunk.
    void Run(const std::function<void(std::span<const uint8_t>)>& sink);
    bool Done() const;

    const MultiplexManifest& Manifest() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavrel::sim
