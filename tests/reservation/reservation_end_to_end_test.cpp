// Reservations recorded from a real processor's output 1: a generated multiplex or a hand-made
// stream goes through CTsProcessor, output 1 and the tables reach the engine as a capture
// routes them, and the files are checked with the analyzer and, where installed, ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cli/analyzer.h"
#include "platform/temp_dir.h"
#include "reservation/reservation_fixture.h"
#include "reservation/reservation_manager.h"
#include "reservation/stream_hooks.h"
#include "sim/eit_writer.h"
#include "sim/multiplex.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "support/ffprobe.h"
#include "support/packet_pids.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using test_support::TempDir;
using testing::At;

// A capture without a device: the processor, output 1 and the table events routed to the
// engine, and the engine ticked with the stream's own time between blocks.
class Capture {
public:
    explicit Capture(ReservationManager& manager) : manager_(manager) {
        processor_.decode_tables = 1;
        processor_.program_guide = 1;
        processor_.AddOutput(kReservationOutput);
        processor_.SetOutputCallback(&Callback, this);
        manager_.SetStreamCallbacks(ProcessorReservationCallbacks(processor_));
    }
    ~Capture() { manager_.ClearStreamCallbacks(); }

    void Feed(std::span<const uint8_t> bytes, MjdTime now) {
        for (size_t at = 0; at < bytes.size(); at += 0x8000) {
            processor_.Input(bytes.subspan(at, std::min<size_t>(0x8000, bytes.size() - at)),
                             stats_);
        }
        manager_.ScheduleTick(now);
    }
    CTsProcessor& Processor() { return processor_; }

private:
    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
        auto* self = static_cast<Capture*>(user);
        ForwardToReservations(self->manager_, kReservationOutput, type, a, data, length);
    }

    ReservationManager& manager_;
    CTsProcessor processor_;
    StreamStats stats_;
};

TEST(ReservationEndToEnd, LimitedRecordingHoldsOnlyTheReservedService) {
    sim::MultiplexConfig config;
    config.seconds = 16;
    config.chunk_bytes = 188 * 200;
    config.bitrate = 3'000'000;
    config.seed = 3;
    config.start = At(2008, 3, 1, 20, 59, 50);
    sim::MultiplexGenerator generator(config);
    const sim::PlannedTransportStream& ts = generator.Manifest().transport_streams.at(0);
    const sim::PlannedService& kept = ts.services.at(0);

    TempDir dir;
    ReservationManager manager(SystemClock::Instance(), nullptr, nullptr);
    Reservation r = testing::DateReservation(At(2008, 3, 1, 21, 0, 0), 2, RSV_SERVICE_LIMIT);
    CopyText(r.Dir, dir.Path());
    CopyText(r.EnableServiceID, std::to_string(kept.service_id));
    ASSERT_TRUE(manager.SetReservation(r, -1));

    Capture capture(manager);
    uint64_t bytes = 0;
    std::vector<uint8_t> chunk;
    while (generator.Next(chunk)) {
        bytes += chunk.size();
        MjdTime now = config.start;
        AddSeconds(now, static_cast<int64_t>(bytes * 8 / config.bitrate));
        capture.Feed(chunk, now);
    }
    ASSERT_TRUE(manager.Pending().empty());
    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_FINISHED);

    const std::string path = dir.File("20080301-2100.ts");
    const std::vector<uint8_t> file = test_support::ReadWholeFile(path);
    ASSERT_GT(file.size(), 188u * 1000);
    const std::set<uint16_t> pids = testing::PacketPids(file);
    std::set<uint16_t> kept_pids;
    for (const sim::PlannedStream& s : kept.streams) {
        kept_pids.insert(s.pid);
        EXPECT_TRUE(pids.contains(s.pid)) << s.pid;
    }
    for (const sim::PlannedService& other : ts.services) {
        for (const sim::PlannedStream& s : other.streams) {
            if (!kept_pids.contains(s.pid)) {
                EXPECT_FALSE(pids.contains(s.pid)) << other.service_id << " " << s.pid;
            }
        }
    }

    cli::AnalyzeOptions options;
    options.input = path;
    cli::Analyzer analyzer(options);
    analyzer.Feed(file.data(), file.size());
    ASSERT_TRUE(analyzer.Finish());
    const cli::AnalysisReport& report = analyzer.Report();
    EXPECT_EQ(report.stream.sync_errors, 0u);
    ASSERT_EQ(report.programmes.size(), 1u);
    EXPECT_EQ(report.programmes[0].service_id, kept.service_id);

    if (!testing::FfprobeInstalled()) {
        GTEST_SKIP() << "ffprobe is not installed: the analyzer's word stands alone";
    }
    const auto programmes = testing::FfprobeProgrammes(path);
    ASSERT_TRUE(programmes);
    ASSERT_EQ(programmes->size(), 1u);
    EXPECT_EQ(programmes->begin()->first, kept.service_id);
}

// An event reservation follows a new EIT version that moves its programme, and records it at
// the new time, named after the programme (whose slash the broadcast text makes full-width).
TEST(ReservationEndToEnd, EventReservationFollowsAMovedProgramme) {
    constexpr uint16_t kService = 0x0400;
    constexpr uint16_t kVideo = 0x0111;
    TempDir dir;
    ReservationManager manager(SystemClock::Instance(), nullptr, nullptr);
    Reservation r = testing::EventReservation(kService, 0x0011);
    CopyText(r.Dir, dir.Path());
    ASSERT_TRUE(manager.SetReservation(r, -1));
    Capture capture(manager);

    auto tables = [&](uint8_t version, MjdTime following_start) {
        sim::EitEvent present;
        present.event_id = 0x0010;
        present.start = At(2008, 3, 1, 20, 0, 0);
        present.duration = 1800;
        present.name = "前の番組";
        sim::EitEvent following;
        following.event_id = 0x0011;
        following.start = following_start;
        following.duration = 600;
        following.name = "ニュース/天気";
        sim::PmtStream video_stream;
        video_stream.stream_type = 0x02;
        video_stream.pid = kVideo;
        testing::StreamBuilder b;
        b.Section(0x0000, sim::PatSection(0x4010, 0, {{kService, 0x01F0}}));
        b.Section(0x01F0, sim::PmtSection(kService, 0, kVideo, {}, {video_stream}));
        for (const std::vector<uint8_t>& section : sim::PresentFollowingSections(
                 true, kService, 0x4010, 4, version, &present, &following)) {
            b.Section(0x0012, section);
        }
        return b.Bytes();
    };
    auto video = [&](int packets) {
        testing::StreamBuilder b;
        const std::vector<uint8_t> payload(184, 0xAB);
        for (int i = 0; i < packets; ++i) {
            b.RawPayload(kVideo, false, payload);
        }
        return b.Bytes();
    };

    capture.Feed(tables(1, At(2008, 3, 1, 20, 30, 0)), At(2008, 3, 1, 20, 10, 0));
    ASSERT_EQ(manager.Pending().at(0).Start(), At(2008, 3, 1, 20, 30, 0));
    capture.Feed(tables(2, At(2008, 3, 1, 20, 45, 0)), At(2008, 3, 1, 20, 10, 1));
    ASSERT_EQ(manager.Pending().at(0).Start(), At(2008, 3, 1, 20, 45, 0));

    capture.Feed(video(10), At(2008, 3, 1, 20, 30, 0));  // the old time passes unrecorded
    EXPECT_FALSE(manager.RecordingActive());
    capture.Feed(video(10), At(2008, 3, 1, 20, 44, 56));
    ASSERT_TRUE(manager.ActiveIsRecording());
    capture.Feed(video(50), At(2008, 3, 1, 20, 55, 0));
    capture.Feed(video(10), At(2008, 3, 1, 20, 55, 2));
    EXPECT_FALSE(manager.RecordingActive());

    const std::vector<uint8_t> file =
        test_support::ReadWholeFile(dir.File("20080301-2045-ニュース／天気.ts"));
    // The packets fed while recording, without the null packets the builder starts with.
    EXPECT_EQ(file.size(), 60u * 188);
    EXPECT_EQ(testing::PacketPids(file), std::set<uint16_t>{kVideo});
}

}  // namespace
}  // namespace tavrel
