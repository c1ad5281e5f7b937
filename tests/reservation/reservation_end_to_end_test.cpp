// An event reservation fed by a real processor's output 1: the EIT, PAT and PMT of a hand-made
// stream go through CTsProcessor and reach the engine as a capture routes them. (A recording
// limited to one service of the generated multiplex is checked end to end, ffprobe included,
// by the capture command's tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/temp_dir.h"
#include "reservation/reservation_fixture.h"
#include "reservation/reservation_manager.h"
#include "reservation/stream_hooks.h"
#include "sim/eit_writer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "support/packet_pids.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::At;

// A capture without a device: the processor, output 1 and the table events routed to the
// engine, and the engine ticked with the stream's own time after each block.
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
        processor_.Input(bytes, stats_);
        manager_.ScheduleTick(now);
    }

private:
    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
        auto* self = static_cast<Capture*>(user);
        ForwardToReservations(self->manager_, kReservationOutput, type, a, data, length);
    }

    ReservationManager& manager_;
    CTsProcessor processor_;
    StreamStats stats_;
};

// A new EIT version moves the programme: the reservation follows and records it at the new
// time, named after the programme (whose slash the broadcast text makes full-width).
TEST(ReservationEndToEnd, EventReservationFollowsAMovedProgramme) {
    constexpr uint16_t kService = 0x0400;
    constexpr uint16_t kVideo = 0x0111;
    test_support::TempDir dir;
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
        sim::EitEvent following = present;
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
        for (int i = 0; i < packets; ++i) {
            b.RawPayload(kVideo, false, std::vector<uint8_t>(184, 0xAB));
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
