// The service window fed by a stream processor over the simulated multiplex, its events routed
// as the capture core routes them: rows, names, streams and programmes of every service, the
// filter it applies to output 0 (checked on the recording with the analyzer) and the
// data-broadcast command writing the carousel.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "cli/analyzer.h"
#include "platform/temp_dir.h"
#include "sim/multiplex.h"
#include "support/packet_pids.h"
#include "ts/stream_types.h"
#include "ts/ts_processor.h"
#include "ui/programme_records.h"
#include "ui/service_texts.h"
#include "ui/service_window_core.h"
#include "ui/service_window_stand_ins.h"

namespace tavrel {
namespace {

// What the capture core's dispatcher does with the processor's events, and output 0 recorded
// once asked to.
struct Capture {
    CServiceWindow& window;
    CTsProcessor processor;
    StreamStats stats;
    std::optional<MjdTime> time;
    bool recording = false;
    std::vector<uint8_t> output0;

    explicit Capture(CServiceWindow& w) : window(w) {
        processor.decode_tables = 1;
        processor.program_guide = 1;
        processor.data_broadcast = 1;
        processor.SetOutputCallback(&Callback, this);
    }

    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
        auto& c = *static_cast<Capture*>(user);
        const auto id = static_cast<uint16_t>(a);
        switch (type) {
            case kEventPacket:
                if (a == 0 && c.recording) {
                    const auto* bytes = static_cast<const uint8_t*>(data);
                    c.output0.insert(c.output0.end(), bytes, bytes + length);
                }
                break;
            case kEventStream:
                c.window.OnStreamReset();
                break;
            case kEventPrograms:
                for (const ProgramEntry& p :
                     std::span(static_cast<const ProgramEntry*>(data), length)) {
                    c.window.OnProgramme(p.program_number, p.pmt_pid);
                }
                break;
            case kEventStreams:
                c.window.OnStreams(id, {static_cast<const StreamEntry*>(data), length});
                break;
            case kEventServiceName:
                c.window.OnServiceName(id, static_cast<const char*>(data));
                break;
            case kEventPresentFollowing:
            case kEventSchedule:
                c.window.OnEventRecord(*static_cast<const EventRecord*>(data), id, length != 0);
                break;
            case kEventTime:
                c.time = static_cast<const BroadcastTime*>(data)->Moment();
                break;
            default:
                break;
        }
    }

    ServiceWindowQueries Queries() {
        ServiceWindowQueries q;
        q.service_name = [this](uint16_t service_id, std::span<char> name) {
            return processor.ServiceName(service_id, name);
        };
        q.filter = [this](std::span<const uint16_t> services, std::span<const uint16_t> pids) {
            if (services.empty() && pids.empty()) {
                processor.ClearOutputFilter(0);
                return;
            }
            processor.SetOutputFilter(0, 1, services.data(), static_cast<uint32_t>(services.size()),
                                      pids.data(), static_cast<uint32_t>(pids.size()));
        };
        q.write_resources = [this](const std::string& folder, uint16_t pid) {
            return processor.CarouselStore().WriteResources(folder, pid);
        };
        return q;
    }
};

const sim::PlannedEvent* OnAir(const sim::PlannedService& service, MjdTime t) {
    for (const sim::PlannedEvent& e : service.events) {
        MjdTime end = e.start;
        AddSeconds(end, e.on_air_seconds);
        if (e.start <= t && t < end) {
            return &e;
        }
    }
    return nullptr;
}

TEST(ServiceWindowEndToEnd, MultiplexFillsTheWindowAndTheFilterShapesTheRecording) {
    QueuedUiThread ui;
    testing::RecordingUi dialogs;
    FakeClock clock;
    CServiceWindow window(ui, dialogs, clock);
    window.SetVisible(true);
    Capture capture(window);
    window.SetQueries(capture.Queries());
    window.SetProcessingSwitches(true, true);
    window.SetCaptureState(true);

    sim::MultiplexConfig config;
    config.seconds = 6;
    config.seed = 7;
    sim::MultiplexGenerator generator(config);
    const sim::PlannedTransportStream& planned = generator.Manifest().transport_streams.at(0);
    ASSERT_EQ(planned.services.size(), 3u);

    std::vector<uint8_t> chunk;
    auto feed = [&] {
        if (!generator.Next(chunk)) {
            return false;
        }
        for (size_t at = 0; at < chunk.size(); at += 0x8000) {
            capture.processor.Input(
                std::span(chunk).subspan(at, std::min<size_t>(0x8000, chunk.size() - at)),
                capture.stats);
        }
        ui.Drain();
        if (capture.time) {  // the status display's relay of the broadcast time
            window.RelayBroadcastTime(*capture.time);
            ui.Drain();
        }
        return true;
    };
    ASSERT_TRUE(feed());  // the first megabyte holds every table but the carousels
    ASSERT_TRUE(capture.time);

    const std::vector<ServiceListItem> items = window.ServiceItems();
    ASSERT_EQ(items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const sim::PlannedService& s = planned.services[i];
        EXPECT_EQ(items[i].cells[kColumnServiceId], std::to_string(s.service_id));
        EXPECT_EQ(items[i].cells[kColumnChannelName], s.name);
        char pmt[8];
        std::snprintf(pmt, sizeof pmt, "0x%04X", s.pmt_pid);
        EXPECT_EQ(items[i].cells[kColumnPmt], pmt);
        std::string streams;
        for (const sim::PlannedStream& e : s.streams) {
            streams += FormatStream(e.stream_type, e.pid);
        }
        EXPECT_EQ(items[i].cells[kColumnStreams], streams);

        const sim::PlannedEvent* now = OnAir(s, *capture.time);
        ASSERT_NE(now, nullptr);
        const EventRecord expected =
            testing::Programme(s.service_id, now->event_id, now->start, now->duration, now->name);
        EXPECT_EQ(items[i].cells[kColumnProgramme], FormatEventText(kEventCellForm, expected));
        const ServiceRow row = *window.Service(s.service_id);
        EXPECT_EQ(row.programmes.current.event_id, now->event_id);
        if (now->duration != kUndefinedDuration) {
            EXPECT_EQ(row.programmes.next.event_id, (now + 1)->event_id);
        }
    }
    // The guide list has every service of the programme tables, ours marked.
    const std::vector<GuideListItem> guide = window.GuideItems();
    ASSERT_GE(guide.size(), 3u);
    EXPECT_EQ(guide[0].cells[0], std::to_string(planned.services[0].service_id) + "*");
    EXPECT_EQ(guide[0].cells[kColumnChannelName], planned.services[0].name);

    // Drop the second service and record the rest of the stream.
    const sim::PlannedService& dropped = planned.services[1];
    window.SetRowChecked(1, false);
    window.PressFilterButton();
    capture.recording = true;
    while (feed()) {
    }
    cli::AnalyzeOptions options;
    cli::Analyzer analyzer(options);
    analyzer.Feed(capture.output0.data(), capture.output0.size());
    ASSERT_TRUE(analyzer.Finish());
    std::set<uint16_t> programmes;
    for (const cli::ProgrammeReport& p : analyzer.Report().programmes) {
        programmes.insert(p.service_id);
    }
    EXPECT_EQ(programmes,
              (std::set<uint16_t>{planned.services[0].service_id, planned.services[2].service_id}));
    const std::set<uint16_t> recorded = testing::PacketPids(capture.output0);
    for (const sim::PlannedStream& e : dropped.streams) {
        EXPECT_FALSE(recorded.contains(e.pid)) << e.pid;
    }
    for (const sim::PlannedStream& e : planned.services[0].streams) {
        EXPECT_TRUE(recorded.contains(e.pid)) << e.pid;
    }

    // The data-broadcast command writes the first service's carousel, every resource of it.
    ASSERT_TRUE(planned.services[0].carousel);
    size_t resources = 0;
    for (const sim::PlannedModule& m : planned.services[0].carousel->modules) {
        resources += m.resources.size();
    }
    test_support::TempDir dir;
    dialogs.folder = dir.Path();
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, 0), 1);
    EXPECT_EQ(dialogs.messages.back(),
              "tavrel: データ放送のファイルを " + std::to_string(resources) +
                  " 個書き出しました。\n" + dir.Path() + "/" +
                  std::to_string(planned.services[0].service_id) + "-20090101-000000");
}

}  // namespace
}  // namespace tavrel
