#include "sim/multiplex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/eit_writer.h"
#include "sim/elementary_headers.h"
#include "sim/multiplex_plan.h"
#include "sim/nit_writer.h"
#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "sim/pes_writer.h"
#include "sim/pmt_writer.h"
#include "sim/sdt_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"

namespace tavrel::sim {

MjdTime MultiplexConfig::StartAt(int year, int month, int day, int hour, int minute, int second) {
    return {MjdFromDate(month, year, day),
            static_cast<uint32_t>(hour * 3600 + minute * 60 + second)};
}

MjdTime MultiplexConfig::DefaultStart() {
    return StartAt(2024, 4, 1, 20, 0, 0);
}

namespace {

__extension__ using Wide = unsigned __int128;

constexpr uint32_t kPacketBits = 188 * 8;
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
using Packet = std::array<uint8_t, 188>;

uint64_t MulDiv(uint64_t a, uint64_t b, uint64_t c) {
    return static_cast<uint64_t>(Wide{a} * b / c);
}

// floor((k * num + phase) / den) for k = 0, 1, 2 ..., one step at a time without division.
class Ramp {
public:
    Ramp() = default;
    Ramp(uint64_t num, uint64_t den, uint64_t phase)
        : value_(phase / den), rem_(phase % den), q_(num / den), r_(num % den), den_(den) {}
    uint64_t Value() const { return value_; }
    void Step() {
        value_ += q_;
        rem_ += r_;
        if (rem_ >= den_) {
            rem_ -= den_;
            ++value_;
        }
    }

private:
    uint64_t value_ = 0, rem_ = 0, q_ = 0, r_ = 0, den_ = 1;
};

// The sections of one table source at one moment.
struct CycleContext {
    MjdTime now;
    uint64_t unit = 0;
};
// Fills `sections` and returns true when they differ from the last call's (or on the first).
using Producer = std::function<bool(const CycleContext&, std::vector<std::vector<uint8_t>>&)>;

// A table sent as a burst of packets every period. Sources that share a PID never interleave
// their bursts, or a receiver would lose the section in progress.
struct TableSource {
    uint16_t pid = 0;
    uint32_t period_ms = 0;
    uint32_t first_ms = 0;
    uint64_t base_unit = 0;
    uint64_t cycle = 0;
    uint64_t due = 0;
    Producer produce;
    std::vector<std::vector<uint8_t>> sections;
    std::vector<Packet> packets;
    size_t next = 0;
    bool opens_stream = false;  // the first PAT of a transport stream
};

// PES filler of one elementary stream: frames of a fixed number of packets at a fixed frame
// rate, a PTS on every frame and, on a PCR PID, a PCR at least every 40 ms.
struct EsSource {
    uint16_t pid = 0;
    bool video = false;
    bool carries_pcr = false;
    uint32_t per_frame = 1;
    uint64_t frame_num = 1, frame_den = 1;  // frames per second as a fraction
    uint64_t frame = 0;
    uint32_t in_frame = 0;
    uint64_t next_pcr_unit = 0;
    Ramp due;
    uint64_t due_offset = 0;
    uint64_t Due() const { return due_offset + due.Value(); }
    // Packet images: unit start or continuation, each with or without a PCR.
    Packet start{}, start_pcr{}, cont{}, cont_pcr{};
};
constexpr size_t kPcrFieldOffset = 6;  // in a packet with the 8-byte PCR adaptation field
constexpr size_t kPcrAdaptationSize = 8;

uint32_t BcdToDecimal(uint32_t bcd) {
    uint32_t value = 0;
    for (int shift = 28; shift >= 0; shift -= 4) {
        value = value * 10 + ((bcd >> shift) & 0x0F);
    }
    return value;
}

EitEvent ToEitEvent(const PlannedEvent& e, const PlannedService& s, uint8_t running_status) {
    EitEvent out;
    out.event_id = e.event_id;
    out.start = e.start;
    out.duration = e.duration;
    out.running_status = running_status;
    out.name = e.name;
    out.text = e.text;
    // Components with the tags of the service's PMT; H.264 video is stream content 5.
    const PlannedStream& video = s.streams[0];
    const PlannedStream& audio = s.streams[1];
    const auto v = ComponentDescriptor(e.video_component_type, video.component_tag,
                                       video.stream_type == 0x1B ? 0x05 : 0x01);
    const auto a = AudioComponentDescriptor(e.audio_component_type, audio.component_tag);
    out.more_descriptors.assign(v.begin(), v.end());
    out.more_descriptors.insert(out.more_descriptors.end(), a.begin(), a.end());
    return out;
}

// The programme on air at `t` (index into events), or -1 before the first.
int OnAirAt(const std::vector<PlannedEvent>& events, MjdTime t) {
    int index = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].start <= t) {
            index = static_cast<int>(i);
        }
    }
    return index;
}

enum FaultKind { kSync = 0, kContinuity = 1, kScrambled = 2 };
// Faults keep this many units apart. A sync error needs the three units after it intact,
// whose sync bytes the re-found grid is checked against.
constexpr uint64_t kFaultSpacing = 4;
constexpr uint64_t kFaultTail = 8;     // no fault this close to the end
constexpr uint64_t kLeadingNulls = 3;  // so that a receiver finds the grid at once
constexpr uint8_t kBrokenSyncByte = 0xB8;

enum class Coding { kMpeg2Video, kH264, kAac };

// Elementary stream filler that demuxers and probes read as well-formed: each frame begins
// with the headers that give its size or sample rate (MPEG-2 sequence and picture headers,
// H.264 parameter sets, an ADTS header), and the rest is stuffing (filler data, 0xFF, or
// zeros for AAC). No byte is a sync byte, so a grid search cannot lock on a payload.
void FillElementary(std::span<uint8_t> bytes, Coding coding, bool unit_start, size_t frame_bytes) {
    // Zeros are stuffing between MPEG-2 start codes and after the end of an AAC frame; 0xFF
    // is the payload of H.264 filler data.
    const uint8_t fill = coding == Coding::kH264 ? 0xFF : 0x00;
    std::fill(bytes.begin(), bytes.end(), fill);
    if (!unit_start) {
        return;
    }
    std::vector<uint8_t> head;
    switch (coding) {
        case Coding::kMpeg2Video:
            head = Mpeg2VideoFrameStart(1440, 1080);
            break;
        case Coding::kH264:
            head = H264FrameStart(128, 96);
            break;
        case Coding::kAac:
            head = AdtsHeader(static_cast<uint16_t>(std::min<size_t>(frame_bytes, 0x1FFF)));
            break;
    }
    std::copy_n(head.begin(), std::min(bytes.size(), head.size()), bytes.begin());
}

void WriteHeader(Packet& p, uint16_t pid, bool unit_start, bool adaptation) {
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((unit_start ? 0x40 : 0) | (pid >> 8));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = adaptation ? 0x30 : 0x10;
}

void WritePcrAdaptation(Packet& p) {
    p[4] = 7;
    p[5] = 0x10;  // PCR flag
}

}  // namespace

struct MultiplexGenerator::Impl {
    explicit Impl(const MultiplexConfig& c);

    void Validate() const;
    void BuildElementaryStreams();
    std::vector<TableSource> BuildTables(size_t index, uint64_t base_unit) const;
    void PlanFaults();

    uint64_t UnitsFor(uint64_t ms) const { return MulDiv(ms, config.bitrate, 1000 * kPacketBits); }
    MjdTime TimeOfUnit(uint64_t index) const {
        return TimeAfter(config.start,
                         static_cast<int64_t>(MulDiv(index, kPacketBits, config.bitrate)));
    }
    void ScheduleCycle(TableSource& t) const {
        t.due = t.base_unit + UnitsFor(t.first_ms + t.cycle * uint64_t{t.period_ms});
    }

    size_t WriteUnit(uint8_t* out);
    uint8_t* BeginUnit(uint8_t* out) const;
    void EmitNull(uint8_t* packet, size_t& written);
    void EmitTable(size_t index, uint8_t* packet);
    void EmitElementary(EsSource& es, uint8_t* packet);
    bool TakeFault(FaultKind kind);
    void SwitchStream(size_t index);
    void RecomputeDue();

    MultiplexConfig config;
    MultiplexManifest manifest;
    uint32_t unit_size = 188;
    uint64_t total = 0;
    uint64_t unit = 0;  // index of the next unit
    Ramp clock27;       // 27 MHz time of the current unit
    uint64_t pcr_offset = 0;
    uint64_t pcr_interval = 1;

    std::vector<TableSource> tables;
    std::vector<EsSource> elementary;
    std::array<uint8_t, 8192> counters{};
    std::array<uint16_t, 8192> seen_epoch{};
    std::vector<int> pid_owner = std::vector<int>(8192, -1);
    uint16_t epoch = 0;  // bumped by the first PAT of each transport stream
    uint64_t next_due = 0;
    Packet null_packet{};

    std::array<std::vector<uint64_t>, 3> fault_targets;
    std::array<size_t, 3> fault_next{};
    uint64_t last_fault = 0;
};

MultiplexGenerator::Impl::Impl(const MultiplexConfig& c) : config(c) {
    Validate();
    unit_size = config.packet_size;
    total = static_cast<uint64_t>(
        std::llround(config.seconds * static_cast<double>(config.bitrate) / kPacketBits));
    if (total < 64) {
        throw std::invalid_argument("the stream must last at least 64 packets");
    }
    PlanMultiplex(config, manifest);
    PlanCarousels(config, manifest);
    manifest.total_units = total;
    if (config.change_seconds) {
        const uint64_t change =
            MulDiv(static_cast<uint64_t>(std::llround(*config.change_seconds * 1000.0)),
                   config.bitrate, 1000 * kPacketBits);
        if (change < 16 || change + 16 > total) {
            throw std::invalid_argument("the transport stream change must fall inside the stream");
        }
        manifest.change_unit = change;
        manifest.transport_streams[1].first_unit = change;
    }
    manifest.transport_streams[0].first_unit = kLeadingNulls;

    clock27 = Ramp(kPacketBits * kSystemClock, config.bitrate, 0);
    SeededRandom random = SeededRandom(config.seed).Fork(100);
    pcr_offset = random.Below(uint64_t{1} << 38);
    pcr_interval = std::max<uint64_t>(1, UnitsFor(40));

    null_packet.fill(0xFF);
    WriteHeader(null_packet, kNullPacketPid, false, false);

    BuildElementaryStreams();
    tables = BuildTables(0, kLeadingNulls);
    PlanFaults();
    RecomputeDue();
}

void MultiplexGenerator::Impl::Validate() const {
    if (config.packet_size != 188 && config.packet_size != 192 && config.packet_size != 204) {
        throw std::invalid_argument("packet size must be 188, 192 or 204");
    }
    if (config.bitrate < 2'000'000 || config.bitrate > 1'000'000'000) {
        throw std::invalid_argument("bitrate must lie between 2 and 1000 Mbit/s");
    }
    if (!(config.seconds > 0) || config.seconds > 86400) {
        throw std::invalid_argument("length must lie between 0 and 86400 seconds");
    }
    if (config.change_seconds &&
        !(*config.change_seconds > 0 && *config.change_seconds < config.seconds)) {
        throw std::invalid_argument("the transport stream change must fall inside the stream");
    }
    if (config.start.mjd == 0 || config.start.seconds >= kSecondsPerDay) {
        throw std::invalid_argument("start must be a valid broadcast time");
    }
    if (config.chunk_bytes < 204) {
        throw std::invalid_argument("a chunk must hold at least one unit");
    }
}

// Shares of the bitrate: two television services with most of it, the one-segment service
// with little, as in a real multiplex; what is left goes to tables and null packets.
void MultiplexGenerator::Impl::BuildElementaryStreams() {
    struct StreamPlan {
        uint16_t pid;
        bool video;
        bool pcr;
        double share;
        uint64_t num, den;  // frame rate
        uint8_t stream_id;
        Coding coding;
    };
    static constexpr std::array<StreamPlan, 6> kStreamPlans = {{
        {0x0111, true, true, 0.34, 30000, 1001, 0xE0, Coding::kMpeg2Video},
        {0x0112, false, false, 0.015, 48000, 1024, 0xC0, Coding::kAac},
        {0x0211, true, true, 0.34, 30000, 1001, 0xE0, Coding::kMpeg2Video},
        {0x0212, false, false, 0.015, 48000, 1024, 0xC0, Coding::kAac},
        {0x0181, true, true, 0.02, 15000, 1001, 0xE0, Coding::kH264},
        {0x0183, false, false, 0.005, 48000, 1024, 0xC0, Coding::kAac},
    }};
    uint64_t phase = 0;
    for (const StreamPlan& plan : kStreamPlans) {
        EsSource es;
        es.pid = plan.pid;
        es.video = plan.video;
        es.carries_pcr = plan.pcr;
        es.frame_num = plan.num;
        es.frame_den = plan.den;
        const double packets_per_frame = plan.share * static_cast<double>(config.bitrate) /
                                         kPacketBits * static_cast<double>(plan.den) /
                                         static_cast<double>(plan.num);
        es.per_frame = static_cast<uint32_t>(std::max(1.0, std::round(packets_per_frame)));
        // Packet k goes out at k / (per_frame * fps) seconds.
        const uint64_t num = config.bitrate * plan.den;
        const uint64_t den = uint64_t{es.per_frame} * plan.num * kPacketBits;
        phase += den / 7;  // streams do not all start on the same unit
        es.due = Ramp(num, den, phase % den);
        es.due_offset = kLeadingNulls;

        // A bounded length for audio, as receivers expect; video PES packets are unbounded.
        const uint16_t pes_length = plan.video ? 0 : static_cast<uint16_t>(es.per_frame * 184 - 6);
        const std::vector<uint8_t> pes = PesHeader(plan.stream_id, pes_length, 0);
        auto build = [&](Packet& p, bool unit_start, bool pcr) {
            WriteHeader(p, plan.pid, unit_start, pcr);
            size_t pos = 4;
            if (pcr) {
                WritePcrAdaptation(p);
                pos += kPcrAdaptationSize;
            }
            if (unit_start) {
                std::copy(pes.begin(), pes.end(), p.begin() + static_cast<long>(pos));
                pos += pes.size();
            }
            // An audio frame fills its bounded PES packet.
            const size_t frame_bytes = pes_length == 0 ? 0 : pes_length + 6 - pes.size();
            FillElementary(std::span<uint8_t>(p.data() + pos, p.size() - pos), plan.coding,
                           unit_start, frame_bytes);
        };
        build(es.start, true, false);
        build(es.start_pcr, true, true);
        build(es.cont, false, false);
        build(es.cont_pcr, false, true);
        elementary.push_back(es);
    }
}

std::vector<TableSource> MultiplexGenerator::Impl::BuildTables(size_t index,
                                                               uint64_t base_unit) const {
    const PlannedTransportStream* ts = &manifest.transport_streams[index];
    std::vector<TableSource> out;
    auto add = [&](uint16_t pid, uint32_t period_ms, uint32_t first_ms, Producer produce) {
        TableSource t;
        t.pid = pid;
        t.period_ms = period_ms;
        t.first_ms = first_ms;
        t.base_unit = base_unit;
        t.produce = std::move(produce);
        ScheduleCycle(t);
        out.push_back(std::move(t));
    };
    // Tables that never change: sections made once.
    auto fixed = [](std::vector<std::vector<uint8_t>> sections) {
        return [sections = std::move(sections), sent = false](
                   const CycleContext&, std::vector<std::vector<uint8_t>>& into) mutable {
            if (sent) {
                return false;
            }
            into = sections;
            sent = true;
            return true;
        };
    };

    // PAT first: after a change of transport stream it is the first packet of the new one.
    std::vector<ProgramEntry> programs = {{0, kNitPid}};
    for (const PlannedService& s : ts->services) {
        programs.push_back({s.service_id, s.pmt_pid});
    }
    const auto version = static_cast<uint8_t>(1 + 2 * index);
    add(kPatPid, 100, 0, fixed({PatSection(ts->transport_stream_id, version, programs)}));
    out.back().opens_stream = true;

    uint32_t offset = 5;
    for (const PlannedService& s : ts->services) {
        std::vector<PmtStream> streams;
        for (const PlannedStream& e : s.streams) {
            PmtStream p{e.stream_type, e.pid, StreamIdentifierDescriptor(e.component_tag)};
            if (e.stream_type == 0x0D) {
                // Data component descriptor: ARIB-XML multimedia coding.
                const std::vector<uint8_t> body = {0x00, 0x0C};
                const auto d = Descriptor(0xFD, body);
                p.descriptors.insert(p.descriptors.end(), d.begin(), d.end());
            }
            streams.push_back(std::move(p));
        }
        add(s.pmt_pid, 100, offset,
            fixed({PmtSection(s.service_id, version, s.pcr_pid, {}, streams)}));
        offset += 5;
    }

    // NIT: the network name and every transport stream of the network with its satellite
    // delivery descriptor; those whose services we know also list them.
    {
        const PlannedNetwork& network = manifest.network;
        std::vector<NitTransportStream> entries;
        for (const PlannedDelivery& d : network.transport_streams) {
            NitTransportStream e;
            e.transport_stream_id = d.transport_stream_id;
            e.original_network_id = network.network_id;
            SatelliteDeliveryFields delivery;
            delivery.frequency = BcdToDecimal(d.frequency_bcd);
            delivery.orbital_position = static_cast<uint16_t>(BcdToDecimal(d.orbital_position_bcd));
            delivery.east = d.east;
            delivery.polarisation = d.polarisation;
            delivery.modulation = d.modulation;
            delivery.symbol_rate = BcdToDecimal(d.symbol_rate_bcd);
            delivery.fec_inner = d.fec_inner;
            e.satellite = delivery;
            for (const PlannedTransportStream& known : manifest.transport_streams) {
                if (known.transport_stream_id == d.transport_stream_id) {
                    std::vector<std::pair<uint16_t, uint8_t>> list;
                    for (const PlannedService& s : known.services) {
                        list.emplace_back(s.service_id, s.service_type);
                    }
                    e.more_descriptors = ServiceListDescriptor(list);
                }
            }
            entries.push_back(std::move(e));
        }
        add(kNitPid, 2000, 20, fixed({NitSection(network.network_id, 1, network.name, entries)}));
    }

    // SDT actual for this stream, SDT other for the other one of the network.
    {
        auto services = [](const PlannedTransportStream& t) {
            std::vector<SdtService> list;
            for (const PlannedService& s : t.services) {
                SdtService e;
                e.service_id = s.service_id;
                e.service_type = s.service_type;
                e.provider = s.provider;
                e.name = s.name;
                e.eit_schedule = true;
                list.push_back(std::move(e));
            }
            return list;
        };
        const PlannedTransportStream& other = manifest.transport_streams[1 - index];
        add(kSdtPid, 2000, 25,
            fixed({SdtSection(true, ts->transport_stream_id, ts->original_network_id, 1,
                              services(*ts)),
                   SdtSection(false, other.transport_stream_id, other.original_network_id, 1,
                              services(other))}));
    }

    // EIT present/following of every service: a new version whenever a programme ends.
    add(kEitPid, 2000, 30,
        [ts, on_air = std::vector<int>(ts->services.size(), -2)](
            const CycleContext& context, std::vector<std::vector<uint8_t>>& into) mutable {
            bool changed = false;
            for (size_t j = 0; j < ts->services.size(); ++j) {
                const int now = OnAirAt(ts->services[j].events, context.now);
                changed = changed || now != on_air[j];
                on_air[j] = now;
            }
            if (!changed) {
                return false;
            }
            into.clear();
            for (size_t j = 0; j < ts->services.size(); ++j) {
                const PlannedService& s = ts->services[j];
                const int now = on_air[j];
                std::optional<EitEvent> present, following;
                if (now >= 0) {
                    present = ToEitEvent(s.events[static_cast<size_t>(now)], s, 4);
                }
                if (static_cast<size_t>(now + 1) < s.events.size()) {
                    following = ToEitEvent(s.events[static_cast<size_t>(now + 1)], s, 1);
                }
                const auto pf_version = static_cast<uint8_t>((now + 1) & 0x1F);
                for (auto& section : PresentFollowingSections(
                         true, s.service_id, ts->transport_stream_id, ts->original_network_id,
                         pf_version, present ? &*present : nullptr,
                         following ? &*following : nullptr)) {
                    into.push_back(std::move(section));
                }
            }
            return true;
        });

    // EIT schedule of the next day for every service.
    {
        std::vector<std::vector<uint8_t>> sections;
        for (const PlannedService& s : ts->services) {
            std::vector<EitEvent> events;
            uint32_t first_mjd = s.events.front().start.mjd;
            for (const PlannedEvent& e : s.events) {
                events.push_back(ToEitEvent(e, s, 0));
                first_mjd = std::min(first_mjd, e.start.mjd);
            }
            for (auto& section : ScheduleSections(true, s.service_id, ts->transport_stream_id,
                                                  ts->original_network_id, 1, first_mjd, events)) {
                sections.push_back(std::move(section));
            }
        }
        add(kEitPid, 5000, 45, fixed(std::move(sections)));
    }

    // TOT: the time of the unit its burst starts on.
    add(kTotPid, 5000, 35,
        [](const CycleContext& context, std::vector<std::vector<uint8_t>>& into) {
            into = {TotSection(context.now)};
            return true;
        });

    // A data carousel on every data PID: the DII, then every block of every module.
    uint32_t carousel_offset = 60;
    for (const PlannedService& s : ts->services) {
        if (!s.carousel) {
            continue;
        }
        const PlannedCarousel& c = *s.carousel;
        Dii dii;
        dii.download_id = c.download_id;
        dii.block_size = c.block_size;
        std::vector<std::vector<uint8_t>> sections;
        for (const PlannedModule& m : c.modules) {
            DiiModule entry;
            entry.module_id = m.module_id;
            entry.module_size = static_cast<uint32_t>(m.sent.size());
            entry.module_version = m.version;
            entry.module_info = m.module_info;
            dii.modules.push_back(std::move(entry));
        }
        sections.push_back(DiiSection(dii, 1));
        for (const PlannedModule& m : c.modules) {
            for (auto& section :
                 ModuleDdbSections(c.download_id, m.module_id, m.version, c.block_size, m.sent)) {
                sections.push_back(std::move(section));
            }
        }
        add(c.pid, 2000, carousel_offset, fixed(std::move(sections)));
        carousel_offset += 20;
    }
    return out;
}

// Faults are spread over the stream: one target in each of N equal stretches, at a seeded
// place. A fault goes on the first suitable packet at or after its target.
void MultiplexGenerator::Impl::PlanFaults() {
    const uint64_t lo = 16;
    const uint64_t hi = total - std::max<uint64_t>(64, total / 8);
    const uint64_t window = hi > lo ? hi - lo : 0;

    // Expected packets of each suitable kind in the window, from the shares of the sources.
    const double units_per_second = static_cast<double>(config.bitrate) / kPacketBits;
    double used = 0, starts = 0, continuations = 0;
    for (const EsSource& es : elementary) {
        const double fps = static_cast<double>(es.frame_num) / static_cast<double>(es.frame_den);
        used += es.per_frame * fps;
        if (es.video) {
            starts += fps;
            continuations += (es.per_frame - 1) * fps;
        }
    }
    for (const TableSource& t : tables) {
        std::vector<std::vector<uint8_t>> sections;
        CycleContext context{config.start, 0};
        TableSource probe = t;  // producers keep state: ask a copy
        probe.produce(context, sections);
        size_t packets = 0;
        for (const auto& s : sections) {
            packets += (s.size() + 1 + 183) / 184;
        }
        used += static_cast<double>(packets) * 1000.0 / t.period_ms;
    }
    const double seconds = static_cast<double>(window) / units_per_second;
    const double nulls = std::max(0.0, units_per_second - used) * seconds;
    const std::array<uint32_t, 3> counts = {config.sync_errors, config.continuity_errors,
                                            config.scrambled_packets};
    const std::array<double, 3> room = {nulls, starts * seconds, continuations * seconds};
    const std::array<const char*, 3> names = {"sync errors", "continuity errors",
                                              "scrambled packets"};
    uint64_t all = 0;
    for (int k = 0; k < 3; ++k) {
        if (counts[k] > 0 && static_cast<double>(counts[k]) * 4 > room[k]) {
            throw std::invalid_argument(std::string("too many ") + names[k] +
                                        " for the length and bitrate of the stream");
        }
        all += counts[k];
    }
    if (all * kFaultSpacing * 4 > window) {
        throw std::invalid_argument("too many faults for the length of the stream");
    }

    SeededRandom random = SeededRandom(config.seed).Fork(300);
    for (int k = 0; k < 3; ++k) {
        const uint64_t n = counts[k];
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t from = lo + window * i / n;
            const uint64_t to = lo + window * (i + 1) / n;
            fault_targets[k].push_back(from + random.Below(to - from));
        }
    }
}

void MultiplexGenerator::Impl::RecomputeDue() {
    uint64_t due = kNever;
    for (const TableSource& t : tables) {
        due = std::min(due, t.due);
    }
    for (const EsSource& es : elementary) {
        due = std::min(due, es.Due());
    }
    next_due = due;
}

bool MultiplexGenerator::Impl::TakeFault(FaultKind kind) {
    const auto& targets = fault_targets[kind];
    size_t& next = fault_next[kind];
    if (next >= targets.size() || unit < targets[next] || unit < last_fault + kFaultSpacing ||
        unit + kFaultTail >= total) {
        return false;
    }
    ++next;
    last_fault = unit;
    std::vector<uint64_t>* list[3] = {&manifest.faults.sync_error_units,
                                      &manifest.faults.continuity_error_units,
                                      &manifest.faults.scrambled_units};
    list[kind]->push_back(unit);
    return true;
}

uint8_t* MultiplexGenerator::Impl::BeginUnit(uint8_t* out) const {
    if (unit_size == 192) {
        // Arrival stamp: 30 bits of the 27 MHz clock, never holding a sync byte value.
        const uint64_t stamp = clock27.Value() & 0x3FFFFFFF;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = static_cast<uint8_t>(stamp >> (24 - 8 * i));
            out[i] = b == 0x47 ? 0x46 : b;
        }
        return out + 4;
    }
    if (unit_size == 204) {
        std::memset(out + 188, 0, 16);  // parity bytes are left blank
    }
    return out;
}

void MultiplexGenerator::Impl::EmitNull(uint8_t* packet, size_t& written) {
    std::memcpy(packet, null_packet.data(), 188);
    ++manifest.null_units;
    if (unit >= kLeadingNulls && TakeFault(kSync)) {
        packet[0] = kBrokenSyncByte;
        if (unit_size == 204) {
            // A receiver searches only one unit length for the next grid, so the damaged
            // unit comes up short by its parity bytes, as a receiver that lost bytes sees it.
            written = 188;
        }
    }
}

void MultiplexGenerator::Impl::EmitTable(size_t index, uint8_t* packet) {
    TableSource& t = tables[index];
    if (t.next == 0) {
        const CycleContext context{TimeOfUnit(unit), unit};
        if (t.produce(context, t.sections)) {
            t.packets.clear();
            for (const auto& section : t.sections) {
                SectionPacketizer packetizer(t.pid);
                for (const auto& p : packetizer.Put(section)) {
                    Packet image;
                    std::copy(p.begin(), p.end(), image.begin());
                    t.packets.push_back(image);
                }
            }
        }
        pid_owner[t.pid] = static_cast<int>(index);
        if (t.pid == kTotPid) {
            manifest.tot_times.push_back(context.now);
        }
        if (t.opens_stream) {
            // A receiver forgets every counter on the first PAT of a transport stream.
            t.opens_stream = false;
            ++epoch;
        }
    }
    std::memcpy(packet, t.packets[t.next].data(), 188);
    uint8_t& counter = counters[t.pid];
    packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | counter);
    counter = (counter + 1) & 0x0F;
    seen_epoch[t.pid] = epoch;
    if (++t.next == t.packets.size()) {
        t.next = 0;
        pid_owner[t.pid] = -1;
        ++t.cycle;
        ScheduleCycle(t);
    }
}

void MultiplexGenerator::Impl::EmitElementary(EsSource& es, uint8_t* packet) {
    const bool unit_start = es.in_frame == 0;
    const bool pcr = es.carries_pcr && unit >= es.next_pcr_unit;
    const Packet& image =
        unit_start ? (pcr ? es.start_pcr : es.start) : (pcr ? es.cont_pcr : es.cont);
    std::memcpy(packet, image.data(), 188);
    size_t pos = 4;
    if (pcr) {
        WritePcr(std::span<uint8_t, 6>(packet + kPcrFieldOffset, 6), pcr_offset + clock27.Value());
        es.next_pcr_unit = unit + pcr_interval;
        pos += kPcrAdaptationSize;
    }
    uint8_t& counter = counters[es.pid];
    if (unit_start) {
        // Presentation half a second after the frame's nominal time.
        const uint64_t pts = pcr_offset / 300 + kPtsClock / 2 +
                             MulDiv(es.frame, kPtsClock * es.frame_den, es.frame_num);
        WritePts(std::span<uint8_t, 5>(packet + pos + kPesPtsOffset, 5), pts);
        // A receiver compares counters at unit starts only: skipping one value here, and
        // going on from the skipped one, is one discontinuity and nothing else. The PID must
        // have been seen since the receiver last forgot its counters.
        if (es.video && seen_epoch[es.pid] == epoch && epoch > 0 && TakeFault(kContinuity)) {
            counter = (counter + 1) & 0x0F;
        }
    } else if (es.video && TakeFault(kScrambled)) {
        packet[3] |= 0x80;  // transport_scrambling_control '10'
    }
    packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | counter);
    counter = (counter + 1) & 0x0F;
    seen_epoch[es.pid] = epoch;

    if (++es.in_frame == es.per_frame) {
        es.in_frame = 0;
        ++es.frame;
    }
    es.due.Step();
}

void MultiplexGenerator::Impl::SwitchStream(size_t index) {
    tables = BuildTables(index, unit);
    std::fill(pid_owner.begin(), pid_owner.end(), -1);
}

size_t MultiplexGenerator::Impl::WriteUnit(uint8_t* out) {
    uint8_t* packet = BeginUnit(out);
    size_t written = unit_size;
    if (manifest.change_unit && unit == *manifest.change_unit) {
        SwitchStream(1);
        manifest.change_byte_offset = manifest.bytes_written;
        EmitTable(0, packet);
        RecomputeDue();
    } else if (unit < kLeadingNulls || unit < next_due) {
        EmitNull(packet, written);
    } else {
        // Earliest due first; tables before elementary streams on a tie.
        int best_table = -1;
        uint64_t best = kNever;
        for (size_t i = 0; i < tables.size(); ++i) {
            const TableSource& t = tables[i];
            if (t.due <= unit && t.due < best &&
                (pid_owner[t.pid] < 0 || pid_owner[t.pid] == static_cast<int>(i))) {
                best = t.due;
                best_table = static_cast<int>(i);
            }
        }
        EsSource* best_es = nullptr;
        for (EsSource& es : elementary) {
            const uint64_t due = es.Due();
            if (due <= unit && due < best) {
                best = due;
                best_es = &es;
            }
        }
        if (best_es != nullptr) {
            EmitElementary(*best_es, packet);
        } else if (best_table >= 0) {
            EmitTable(static_cast<size_t>(best_table), packet);
        } else {
            EmitNull(packet, written);
        }
        RecomputeDue();
    }
    ++unit;
    clock27.Step();
    ++manifest.units_written;
    manifest.bytes_written += written;
    return written;
}

MultiplexGenerator::MultiplexGenerator(const MultiplexConfig& config)
    : impl_(std::make_unique<Impl>(config)) {}

MultiplexGenerator::~MultiplexGenerator() = default;

bool MultiplexGenerator::Next(std::vector<uint8_t>& chunk) {
    Impl& g = *impl_;
    const size_t capacity = std::max<size_t>(g.config.chunk_bytes / g.unit_size, 1) * g.unit_size;
    chunk.resize(capacity);
    size_t pos = 0;
    while (g.unit < g.total && pos + g.unit_size <= capacity) {
        pos += g.WriteUnit(chunk.data() + pos);
    }
    chunk.resize(pos);
    return pos > 0;
}

void MultiplexGenerator::Run(const std::function<void(std::span<const uint8_t>)>& sink) {
    std::vector<uint8_t> chunk;
    while (Next(chunk)) {
        sink(chunk);
    }
}

bool MultiplexGenerator::Done() const {
    return impl_->unit >= impl_->total;
}

const MultiplexManifest& MultiplexGenerator::Manifest() const {
    return impl_->manifest;
}

}  // namespace tavrel::sim
