#include "cli/report_format.h"

#include <cstdio>

#include "cli/json_writer.h"
#include "ts/mjd_time.h"
#include "ts/stream_types.h"

namespace tavrel::cli {
namespace {

void EventJson(JsonWriter& j, std::string_view key, const EventReport& e) {
    j.BeginObject(key);
    j.Number("service_id", int64_t{e.service_id});
    j.Number("event_id", int64_t{e.event_id});
    j.Number("kind", int64_t{e.kind});
    j.Number("version", int64_t{e.version});
    j.String("start", FormatMjdTime(e.start.mjd, e.start.seconds));
    if (e.duration) {
        j.Number("duration", int64_t{*e.duration});
    } else {
        j.Null("duration");
    }
    j.String("name", e.name);
    j.String("text", e.text);
    j.Number("video_component_type", int64_t{e.video_component_type});
    j.Number("audio_component_type", int64_t{e.audio_component_type});
    j.EndObject();
}

std::string EventLine(const EventReport& e) {
    char line[160];
    char duration[32] = "open end";
    if (e.duration) {
        std::snprintf(duration, sizeof duration, "%u min", *e.duration / 60);
    }
    std::snprintf(line, sizeof line, "%s (%s) #%u ",
                  FormatMjdTime(e.start.mjd, e.start.seconds).c_str(), duration, e.event_id);
    return line + e.name;
}

}  // namespace

std::string FormatMjdTime(uint32_t mjd, uint32_t seconds) {
    const CalendarDate d = DateFromMjd(mjd);
    const ClockTime t = SplitSeconds(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02u:%02u:%02u", d.year, d.month, d.day,
                  t.hours, t.minutes, t.seconds);
    return text;
}

std::string ReportJson(const AnalysisReport& r, const AnalyzeOptions& options) {
    JsonWriter j;
    j.BeginObject();
    j.String("input", options.input);

    const StreamReport& s = r.stream;
    j.BeginObject("stream");
    j.Number("bytes", static_cast<int64_t>(s.bytes));
    j.Number("packet_length", int64_t{s.packet_length});
    j.Number("packets", static_cast<int64_t>(s.packets));
    j.Number("null_packets", static_cast<int64_t>(s.null_packets));
    j.Number("sync_errors", int64_t{s.sync_errors});
    j.Number("discontinuities", int64_t{s.discontinuities});
    j.Number("scrambled", int64_t{s.scrambled});
    j.Number("counter_sy", int64_t{s.counter_sy});
    j.Number("counter_st", int64_t{s.counter_st});
    j.Optional("transport_stream_id", s.transport_stream_id);
    j.BeginArray("transport_stream_changes");
    for (const uint16_t id : s.transport_stream_changes) {
        j.Number("", int64_t{id});
    }
    j.EndArray();
    j.Number("output_packets", static_cast<int64_t>(s.output_packets));
    j.EndObject();

    j.BeginArray("programmes");
    for (const ProgrammeReport& p : r.programmes) {
        j.BeginObject();
        j.Number("service_id", int64_t{p.service_id});
        j.Number("pmt_pid", int64_t{p.pmt_pid});
        j.Optional("service_name", p.service_name);
        if (p.streams) {
            j.BeginArray("streams");
            for (const StreamItem& e : *p.streams) {
                j.BeginObject();
                j.Number("stream_type", int64_t{e.stream_type});
                j.String("type_name", StreamTypeName(e.stream_type));
                j.Number("pid", int64_t{e.pid});
                if (e.component_tag) {
                    j.Number("component_tag", int64_t{*e.component_tag});
                } else {
                    j.Null("component_tag");
                }
                j.EndObject();
            }
            j.EndArray();
        } else {
            j.Null("streams");
        }
        j.EndObject();
    }
    j.EndArray();

    j.BeginArray("services");
    for (const auto& [id, name] : r.service_names) {
        j.BeginObject();
        j.Number("service_id", int64_t{id});
        j.String("name", name);
        j.EndObject();
    }
    j.EndArray();

    j.BeginArray("networks");
    for (const auto& [id, network] : r.networks) {
        j.BeginObject();
        j.Number("network_id", int64_t{id});
        j.Optional("name", network.name);
        j.BeginArray("transport_streams");
        for (const auto& [ts, d] : network.transport_streams) {
            j.BeginObject();
            j.Number("transport_stream_id", int64_t{ts});
            j.BeginObject("satellite");
            j.Number("frequency", d.frequency);
            j.Number("orbital_position", d.orbital_position);
            j.Number("west_east_flag", int64_t{d.west_east_flag});
            j.Number("polarisation", int64_t{d.polarisation});
            j.Number("modulation", int64_t{d.modulation});
            j.Number("symbol_rate", d.symbol_rate);
            j.Number("fec_inner", int64_t{d.fec_inner});
            j.EndObject();
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.BeginArray("selection_information");
    for (const uint16_t id : r.selection_information) {
        j.Number("", int64_t{id});
    }
    j.EndArray();

    j.BeginObject("broadcast_time");
    j.Number("count", static_cast<int64_t>(r.time.count));
    if (r.time.first) {
        j.String("first", FormatMjdTime(r.time.first->first, r.time.first->second));
        j.String("last", FormatMjdTime(r.time.last->first, r.time.last->second));
    } else {
        j.Null("first");
        j.Null("last");
    }
    j.EndObject();

    j.BeginArray("carousels");
    for (const CarouselReport& c : r.carousels) {
        j.BeginObject();
        j.Number("pid", int64_t{c.status.pid});
        j.Number("service_id", int64_t{c.status.service_id});
        j.Number("component_tag", int64_t{c.status.component_tag});
        j.Number("download_id", int64_t{c.status.download_id});
        j.BeginArray("modules");
        for (const ModuleStatus& m : c.status.modules) {
            j.BeginObject();
            j.Number("id", int64_t{m.module_id});
            j.Number("version", int64_t{m.module_version});
            j.Number("size", int64_t{m.module_size});
            j.String("content_type", m.content_type);
            j.Bool("compressed", m.compressed);
            j.Bool("complete", m.complete);
            j.EndObject();
        }
        j.EndArray();
        j.Number("resources", static_cast<int64_t>(c.resources));
        j.Optional("extracted_to", c.extracted_to);
        j.EndObject();
    }
    j.EndArray();

    j.BeginArray("events");
    for (const ServiceEventsReport& service : r.events) {
        j.BeginObject();
        j.Number("service_id", int64_t{service.service_id});
        j.Number("count", static_cast<int64_t>(service.count));
        if (service.present) {
            EventJson(j, "present", *service.present);
        } else {
            j.Null("present");
        }
        if (service.following) {
            EventJson(j, "following", *service.following);
        } else {
            j.Null("following");
        }
        if (options.all_events) {
            j.BeginArray("all");
            for (const EventReport& e : service.events) {
                EventJson(j, "", e);
            }
            j.EndArray();
        }
        j.EndObject();
    }
    j.EndArray();

    j.EndObject();
    return j.Text();
}

std::string ReportText(const AnalysisReport& r, const AnalyzeOptions& options) {
    std::string out;
    char line[512];
    const StreamReport& s = r.stream;
    std::snprintf(line, sizeof line,
                  "Stream %s: %llu bytes, %u-byte packets, %llu packets (%llu null)\n",
                  options.input.c_str(), static_cast<unsigned long long>(s.bytes), s.packet_length,
                  static_cast<unsigned long long>(s.packets),
                  static_cast<unsigned long long>(s.null_packets));
    out += line;
    std::snprintf(line, sizeof line,
                  "  sync errors %u, discontinuities %u, scrambled %u, Sy:%u St:%u\n",
                  s.sync_errors, s.discontinuities, s.scrambled, s.counter_sy, s.counter_st);
    out += line;
    if (s.transport_stream_id) {
        std::snprintf(line, sizeof line, "  transport_stream_id 0x%04X (%u)\n",
                      *s.transport_stream_id, *s.transport_stream_id);
        out += line;
    }
    for (const uint16_t id : s.transport_stream_changes) {
        std::snprintf(line, sizeof line, "  new transport stream 0x%04X\n", id);
        out += line;
    }

    out += "\nProgrammes:\n";
    if (r.programmes.empty()) {
        out += "  (no PAT)\n";
    }
    for (const ProgrammeReport& p : r.programmes) {
        std::snprintf(line, sizeof line, "  service %5u  PMT 0x%04X  %s\n", p.service_id, p.pmt_pid,
                      p.service_name ? p.service_name->c_str() : "(no name)");
        out += line;
        if (p.streams) {
            std::string streams = "    ";
            for (const StreamItem& e : *p.streams) {
                streams += FormatStream(e.stream_type, e.pid);
            }
            out += streams + "\n";
        }
    }

    for (const auto& [id, network] : r.networks) {
        std::snprintf(line, sizeof line, "\nNetwork %u: %s\n", id,
                      network.name ? network.name->c_str() : "(no name)");
        out += line;
        for (const auto& [ts, d] : network.transport_streams) {
            std::snprintf(line, sizeof line,
                          "  transport stream 0x%04X: %.2f MHz, orbit %.1f%c, %.4f Msym/s\n", ts,
                          d.frequency, d.orbital_position, d.west_east_flag ? 'E' : 'W',
                          d.symbol_rate);
            out += line;
        }
    }
    for (const uint16_t id : r.selection_information) {
        std::snprintf(line, sizeof line, "\nSelection information table 0x%04X\n", id);
        out += line;
    }

    out += "\nBroadcast time: ";
    if (r.time.first) {
        out += std::to_string(r.time.count) + " time sections, first " +
               FormatMjdTime(r.time.first->first, r.time.first->second) + ", last " +
               FormatMjdTime(r.time.last->first, r.time.last->second) + "\n";
    } else {
        out += "none\n";
    }

    for (const CarouselReport& c : r.carousels) {
        size_t complete = 0;
        for (const ModuleStatus& m : c.status.modules) {
            complete += m.complete ? 1 : 0;
        }
        std::snprintf(line, sizeof line,
                      "\nData carousel on PID 0x%04X (service %u, component 0x%02X): %zu of %zu "
                      "modules complete, %zu resources\n",
                      c.status.pid, c.status.service_id, c.status.component_tag, complete,
                      c.status.modules.size(), c.resources);
        out += line;
        if (c.extracted_to) {
            out += "  written to " + *c.extracted_to + "\n";
        }
    }

    if (!r.events.empty()) {
        out += "\nProgramme events:\n";
    }
    for (const ServiceEventsReport& service : r.events) {
        std::snprintf(line, sizeof line, "  service %5u: %zu events\n", service.service_id,
                      service.count);
        out += line;
        if (service.present) {
            out += "    now:  " + EventLine(*service.present) + "\n";
        }
        if (service.following) {
            out += "    next: " + EventLine(*service.following) + "\n";
        }
        for (const EventReport& e : service.events) {
            out += "    " + EventLine(e) + "\n";
        }
    }
    return out;
}

}  // namespace tavrel::cli
