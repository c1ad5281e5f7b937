#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "platform/loopback_receiver.h"
#include "platform/temp_dir.h"
#include "platform/text_encoding.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"
#include "reservation/schedule_commands.h"
#include "sim/simulated_fx2.h"
#include "ts/broadcast_time.h"
#include "ts/processor_callback.h"
#include "ui/service_window_core.h"
#include "ui/service_window_link.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using test_support::Multiplex;
using test_support::ReadWholeFile;
using H = AppHarness&;

TEST(CaptureStart, EachFailureUndoesThePartialStart) {
    struct Case {
        StartError error;
        const char* message;  // caption "Error"; null: none
        int connects;
        std::function<void(H)> setup;
    };
    const Case cases[] = {
        {StartError::kNoDevice, nullptr, 0, [](H h) { h.app->Window().device.selected = -1; }},
        {StartError::kNoInEndpoint, nullptr, 0,
         [](H h) { h.app->Window().endpoint_in.selected = -1; }},
        {StartError::kNoOutEndpoint, nullptr, 0,
         [](H h) { h.app->Window().endpoint_out.selected = -1; }},
        {StartError::kInEndpointMissing, "入力EP指定エラー", 0,
         [](H h) { h.tuner->missing = {0x81}; }},
        {StartError::kOutEndpointMissing, "HvKelvra初期化には出力EPが必要です", 0,
         [](H h) {
             h.app->Window().firmware_init.checked = true;
             h.app->Window().endpoint_out.SelectData(kNoEndpoint);
         }},
        {StartError::kTimerPeriod, nullptr, 0, [](H h) { h.timer.refuse = true; }},
        // Decision: a failed connect aborts the start; the timer period begun before is ended.
        {StartError::kConnect, "デバイスに接続できませんでした", 1,
         [](H h) { h.tuner->connect_result = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.error));
        AppHarness h([&](Settings& s) { s.timer_period = 4; });
        ASSERT_TRUE(h.Initialise());
        c.setup(h);
        h.app->Window().connect.checked = true;  // the click checked it
        EXPECT_EQ(h.app->StartStop(), c.error);
        using Messages = std::vector<test_support::ScriptedUi::Message>;
        EXPECT_EQ(h.ui.messages, (c.message ? Messages{{c.message, "Error"}} : Messages{}));
        EXPECT_FALSE(h.app->Capturing() || h.app->Window().connect.checked);
        EXPECT_EQ(h.tuner->connects, c.connects);
        EXPECT_FALSE(h.tuner->IsConnected());
        EXPECT_TRUE(h.timer.active.empty()) << "a timer period begun is ended again";
        EXPECT_FALSE(h.app->Window().record.enabled || h.app->ChannelWindow().change.enabled);
    }
}

// With null packets kept, output 0 is the tuner's stream: the recording must equal it byte for
// byte, also its last part short of a block that only the drain at stop writes (decision), and
// the UDP datagrams must carry it in pieces of exactly the configured size. The start sets the
// remembered channel and the timer period and locks the device controls; the stop restores them.
TEST(CaptureCycle, RecordsAndSendsTheStreamByteForByte) {
    test_support::TempDir dir;
    test_support::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    AppHarness h([&](Settings& s) {
        s.network_address = "127.0.0.1";
        s.network_port = receiver.Port();
        s.network_send_size = 1000;
        s.no_reject_nullpacket = s.decode_psi = 1;
        s.timer_period = 4;
        s.last_channel = 27;
    });
    std::vector<uint8_t> stream = Multiplex(0.3);
    stream.resize(1000 * 188);  // five 32 KiB blocks and 24160 bytes
    h.tuner->stream = stream;
    h.tuner->transfer_size = 5000;  // not a multiple of the packet or the block
    h.tuner->capabilities = kCapabilityChannel;
    h.ui.save_path = dir.File("picked.ts");
    ASSERT_TRUE(h.Initialise());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    const MainWindowState& w = h.app->Window();
    EXPECT_TRUE(h.app->Capturing() && w.connect.checked && w.record.enabled && w.send.enabled);
    EXPECT_EQ(std::tuple(h.tuner->last_in, h.tuner->last_out), std::tuple(0x81, 0x02));
    EXPECT_EQ(std::tuple(h.tuner->channels_set, h.timer.active),
              std::tuple(std::vector{27}, std::vector{4u}));
    EXPECT_FALSE(w.device.enabled || w.research.enabled || w.endpoint_in.enabled ||
                 w.endpoint_out.enabled);
    h.ui_thread.Drain();  // the channel list is filled through the UI thread
    EXPECT_EQ(h.app->ChannelWindow().channels.SelectedData(), 27u);
    EXPECT_TRUE(h.app->ChannelWindow().change.enabled);
    ASSERT_TRUE(h.app->StartRecording() && h.app->StartSending());
    EXPECT_EQ(std::tuple(w.record.text, w.send.text), std::tuple("録画停止", "送信停止"));
    h.tuner->Release();
    ASSERT_TRUE(h.tuner->WaitDelivered());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.ui_thread.Drain();

    EXPECT_EQ(ReadWholeFile(dir.File("picked.ts")), stream);
    ASSERT_EQ(h.ui.save_requests.size(), 1u);
    EXPECT_EQ(
        std::tuple(h.ui.save_requests[0].filter_pattern, h.ui.save_requests[0].default_extension),
        std::tuple("*.ts", "ts"));
    EXPECT_EQ(std::tuple(w.record.text, w.send.text), std::tuple("録画開始", "送信開始"));
    EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
    EXPECT_FALSE(h.app->Capturing() || w.connect.checked || w.record.enabled || w.send.enabled);
    EXPECT_TRUE(w.device.enabled && w.research.enabled && w.endpoint_in.enabled);
    EXPECT_FALSE(w.firmware_init.visible || w.firmware_init.enabled) << "FX2 device only";
    EXPECT_EQ(std::tuple(h.timer.active.size(), h.timer.ended), std::tuple(0u, std::vector{4u}));
    EXPECT_TRUE(h.app->ChannelWindow().channels.entries.empty());
    EXPECT_EQ(h.app->CurrentSettings().last_channel, 27);
    std::vector<uint8_t> received;
    while (auto d = receiver.Receive(200)) {
        EXPECT_EQ(d->size(), 1000u);
        received.insert(received.end(), d->begin(), d->end());
    }
    // The sender keeps up to one datagram and one packet back; that tail is dropped at stop.
    EXPECT_GE(received.size(), stream.size() - 1188);
    ASSERT_LE(received.size(), stream.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), stream.begin()));
}

// An overflow empties the buffer and counts once; the rate is sampled from the totals and the
// refreshes are throttled.
TEST(DeviceDataCallback, OverflowAndRateSampling) {
    AppHarness h;
    ASSERT_TRUE(h.Initialise());
    std::vector<uint8_t> data(CaptureApp::kChunkBufferLimit - 10, 0x47);
    const auto deliver = [&](size_t n) {
        CaptureApp::DeviceDataCallback(data.data(), static_cast<uint32_t>(n), 0, 0, h.app.get());
    };
    deliver(data.size());
    EXPECT_EQ(h.app->ChunkBuffer().Held(), data.size());
    EXPECT_EQ(h.app->Stats().overflow_resets.load(), 0u);
    deliver(100);
    EXPECT_EQ(h.app->ChunkBuffer().Held(), 0u);
    h.app->RunStatusDisplay();
    EXPECT_EQ(h.app->Window().buffer.text, "0KB/10240KB\nR:1 Sy:0 St:0");
    h.app->Clear();
    EXPECT_EQ(h.app->Stats().overflow_resets.load(), 0u);

    h.ui_thread.Drain();
    struct Step {
        uint32_t advance_ms;
        uint64_t total;
        double rate;
        size_t refreshes_pending;
    };
    const Step steps[] = {
        {700, 700'000, 1'000'000.0, 1},  // first sample: 700000 bytes in 700 ms
        {100, 900'000, 1'000'000.0, 1},  // too soon for either
        {250, 950'000, 1'000'000.0, 2},  // 350 ms since the last refresh request
        {350, 500, 0.0, 3},              // 700 ms: the total went down (statistics reset)
        {601, 601'500, 1'000'000.0, 4},
    };
    for (const Step& s : steps) {
        h.clock.Advance(s.advance_ms);
        CaptureApp::DeviceDataCallback(nullptr, 0, static_cast<uint32_t>(s.total),
                                       static_cast<uint32_t>(s.total >> 32), h.app.get());
        EXPECT_DOUBLE_EQ(h.app->Stats().rate.load(), s.rate) << s.total;
        EXPECT_EQ(h.ui_thread.Pending(), s.refreshes_pending) << s.total;
    }
    h.ui_thread.Drain();
    EXPECT_EQ(h.app->Window().rate.text, "7.64 Mbps");
}

// Logs what the capture hands to the child windows and the reservation engine.
struct RecordingPorts : ServiceWindowPort, ReservationPort {
    std::vector<std::string> calls;
    void Log(std::string what, std::vector<int64_t> numbers) {
        for (const int64_t n : numbers) {
            what += " " + std::to_string(n);
        }
        calls.push_back(what);
    }
    void OnNewStream(uint32_t end) override { Log("new stream", {end}); }
    void OnProgram(const ProgramEntry& p) override { Log("program", {p.program_number}); }
    void OnStreams(uint16_t program, std::span<const StreamEntry> streams) override {
        std::vector<int64_t> numbers{program};
        for (const StreamEntry& e : streams) {
            numbers.insert(numbers.end(), {e.stream_type, e.unused, e.elementary_pid});
        }
        Log("streams", numbers);
    }
    void OnServiceName(uint16_t sid, const char* name) override { Log(name, {sid}); }
    void OnEvent(const EventRecord&, uint16_t sid, uint32_t actual) override {
        Log("event", {sid, actual});
    }
    void WriteReservationData(std::span<const uint8_t> unit) override {
        Log("reservation data", {static_cast<int64_t>(unit.size())});
    }
    void ClearServicePids(uint32_t a) override { Log("clear pids", {a}); }
    void UpdateServicePids(uint16_t program, std::span<const StreamEntry> streams) override {
        Log("update pids",
            {program, static_cast<int64_t>(streams.size()), streams[1].elementary_pid});
    }
};

TEST(UiEventDispatcher, RoutesEachEventType) {
    AppHarness h;
    RecordingPorts ports;
    ASSERT_TRUE(h.Initialise(&ports, &ports));
    const ProgramEntry programs[] = {{0x400, 0x1F0}, {0x401, 0x1F1}};
    const uint8_t streams[8] = {0x02, 0xEE, 0x01, 0x11, 0x0F, 0xEE, 0x01, 0x12};
    uint16_t pid[2];  // the records as the processor lays them out, PIDs in host order
    std::memcpy(pid, streams + 2, 2);
    std::memcpy(pid + 1, streams + 6, 2);
    EventRecord event{};
    const uint8_t unit[188] = {0x47};
    const auto send = [&](uint32_t type, uint32_t a, const void* data, uint32_t length) {
        CaptureApp::ProcessorOutputCallback(type, a, data, length, h.app.get());
    };
    send(kEventStream, 0x7FE0, nullptr, 0);
    send(kEventPrograms, 0x7FE0, programs, 2);
    send(kEventStreams, 0x400, streams, 2);
    send(kEventServiceName, 0x400, "NHK", 3);
    send(kEventPresentFollowing, 0x400, &event, 1);
    send(kEventSchedule, 0x401, &event, 0);
    send(kEventNetwork, 4, "net", 3);
    send(kEventTransportStream, 4, nullptr, 0x40F1);
    send(0x50, 0, nullptr, 0);         // carousel notification
    send(kEventPacket, 1, unit, 188);  // no capture: nobody
    const std::string p0 = std::to_string(pid[0]), p1 = std::to_string(pid[1]);
    EXPECT_EQ(ports.calls, (std::vector<std::string>{
                               "new stream 0", "clear pids 32736", "program 1024", "program 1025",
                               "streams 1024 2 0 " + p0 + " 15 0 " + p1, "update pids 1024 2 " + p1,
                               "NHK 1024", "event 1024 1", "event 1025 0"}));

    // Only the time event touches the statistics.
    EXPECT_EQ(h.app->Stats().time_date.load(), 0u);
    const BroadcastTime time{.mjd = 54832, .seconds = 3600};
    h.clock.SetTick(123456);
    send(kEventTime, 0, &time, sizeof time);
    EXPECT_EQ(h.app->Stats().time_tick.load(), 123456u);
    h.app->RunStatusDisplay();
    EXPECT_EQ(h.app->Window().broadcast_time.text, "*2009/01/01\n01:00:00");
}

// The edit dialog's OK on whatever the request prefilled.
class PressOk final : public ReservationEditor {
public:
    bool Run(Reservation&) override { return true; }
};

// A capture of the generated multiplex with the service window's core and a logging
// reservation port plugged in. The queries answer zero without a capture and reach the running
// processor; output 1 goes to the reservation port meanwhile. The window's rows fill, and empty
// at the stop; the popup's two reservation kinds, on programmes the capture's broadcast time put
// in the rows, become pending reservations through the schedule's commands, and its data
// broadcast command writes the running capture's carousel into the folder picked. A reserved
// recording through the capture is run end to end by the capture command's tests.
TEST(CapturePorts, QueriesServiceWindowAndReservationsFollowTheRunningCapture) {
    AppHarness h([](Settings& s) { s.decode_psi = s.proc_epg = s.proc_data = 1; });
    sim::MultiplexManifest plan;
    h.tuner->stream = Multiplex(1.5, 1, &plan);
    const auto& services = plan.transport_streams[0].services;
    const uint16_t sid = services[0].service_id, first_event = services[0].events[0].event_id;
    char name[64] = "untouched";
    EventRecord record{};
    const uint16_t programs[] = {sid};
    const auto answers = [&] {
        return std::vector<int>{h.app->ServiceName(sid, name, sizeof name),
                                h.app->EventOnAir(sid, plan.start, record),
                                h.app->EventById(sid, first_event, record),
                                h.app->SetServiceFilter(nullptr, 0, nullptr, 0),
                                h.app->ReservationFilter(2, programs, 1, nullptr, 0),
                                h.app->WriteDataBroadcast("/nonexistent", 0x100)};
    };
    CServiceWindow window{h.ui_thread, h.ui, h.clock};
    ServiceWindowLink link{window};
    RecordingPorts ports;
    ReservationManager manager(h.clock, &h.ui, nullptr);
    PressOk editor;
    ScheduleCommands commands(manager, editor);
    ScheduleRequests requests(commands);
    window.SetReservationRequests(&requests);
    ASSERT_TRUE(h.Initialise(&link, &ports));
    EXPECT_EQ(answers(), std::vector<int>(6, 0));
    EXPECT_STREQ(name, "untouched");
    h.app->ToggleServiceWindow();
    EXPECT_TRUE(window.Visible());
    h.CaptureAll();
    EXPECT_EQ(answers(), (std::vector<int>{1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(ShiftJisToUtf8(name), services[0].name);
    EXPECT_EQ(record.event_id, first_event);
    h.app->RunStatusDisplay();  // relays the broadcast time: current and next programmes
    h.ui_thread.Drain();
    std::vector<uint16_t> shown, planned;
    for (const ServiceListItem& item : window.ServiceItems()) {
        shown.push_back(item.service_id);
        EXPECT_FALSE(item.cells[0].empty()) << item.service_id;
    }
    for (const sim::PlannedService& s : services) {
        planned.push_back(s.service_id);
    }
    std::sort(shown.begin(), shown.end());
    std::sort(planned.begin(), planned.end());
    ASSERT_EQ(shown, planned) << "one row per service";
    const std::vector<ServiceListItem> rows = window.ServiceItems();
    const std::optional<ServiceRow> first = window.Service(rows[0].service_id);
    const std::optional<ServiceRow> second = window.Service(rows[1].service_id);
    ASSERT_TRUE(first && second);
    ASSERT_NE(first->programmes.current.start.mjd, 0u) << "no programme on air";
    ASSERT_NE(second->programmes.next.start.mjd, 0u) << "no next programme";

    EXPECT_EQ(window.RunCommand(kCommandEventReserveCurrent, 0), 1);
    EXPECT_EQ(window.RunCommand(kCommandDateReserveNext, 1), 1);
    const test_support::TempDir dir;
    h.ui.folder = dir.Path();
    const auto with_carousel = std::find_if(services.begin(), services.end(),
                                            [](const auto& s) { return s.carousel.has_value(); });
    ASSERT_NE(with_carousel, services.end());
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const ServiceListItem& r) {
        return r.service_id == with_carousel->service_id;
    });
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, size_t(row - rows.begin())), 1);
    size_t files = 0, resources = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    for (const sim::PlannedModule& m : with_carousel->carousel->modules) {
        resources += m.resources.size();
    }
    EXPECT_EQ(files, resources);
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_EQ(answers(), std::vector<int>(6, 0));
    // Read only now: the processing thread logs into it until the stop.
    EXPECT_TRUE(std::any_of(ports.calls.begin(), ports.calls.end(), [](const std::string& c) {
        return c.rfind("reservation data", 0) == 0;
    })) << "output 1 reached the reservation port while capturing";
    h.ui_thread.Drain();
    EXPECT_TRUE(window.ServiceItems().empty()) << "the end of the stream empties the list";

    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 2u);
    const size_t e = pending[0].ByEvent() ? 0 : 1;
    const Reservation *by_event = &pending[e], *by_date = &pending[1 - e];
    ASSERT_TRUE(by_event->ByEvent() && by_date->ByDate());
    EXPECT_EQ(by_event->ServiceID, first->service_id);
    EXPECT_EQ(by_event->EventID, first->programmes.current.event_id);
    EXPECT_EQ(by_date->Start(), second->programmes.next.start);
    EXPECT_EQ(by_date->RecordSec, second->programmes.next.duration);
    EXPECT_NE(by_date->Flag & RSV_SERVICE_LIMIT, 0u);
    EXPECT_EQ(TextOf(by_date->EnableServiceID), std::to_string(second->service_id));
}

// The engine keeps nothing of a capture once it stopped: its next ticks, here after the
// application is gone, find no lookups to call and wait for the guide as before.
TEST(CaptureReservation, EngineKeepsNothingOfAStoppedCapture) {
    // The engine outlives the application, whose stop still talks to it.
    std::optional<ReservationManager> engine;
    std::optional<ReservationEnginePort> port;
    AppHarness h;
    ReservationManager& manager = engine.emplace(h.clock, nullptr, nullptr);
    port.emplace(manager);
    Reservation r;
    r.Flag = RSV_BY_EVENT;
    r.ServiceID = 0x0400;
    r.EventID = 0x0011;
    ASSERT_TRUE(manager.SetReservation(r, -1));
    ASSERT_TRUE(h.Initialise(nullptr, &*port));
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.tuner->Release();
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.app.reset();
    manager.ScheduleTick(NowLocal(h.clock));
    EXPECT_EQ(manager.GetReservationStatus(), "イベント情報取得待ち");
    EXPECT_FALSE(manager.RecordingActive());
}

// The processing thread writes every packet while the main thread starts and stops the
// recording and the sending under it; run under ThreadSanitizer too.
TEST(CaptureCycle, RecordingAndSendingStopWhileTheProcessingThreadWrites) {
    test_support::TempDir dir;
    test_support::LoopbackReceiver receiver;
    AppHarness h([&](Settings& s) {
        s.rec_autofilename = 1;
        s.rec_autopath = dir.Path();
        s.network_address = "127.0.0.1";
        s.network_port = receiver.Port();
        s.network_send_size = 188 * 7;
    });
    h.tuner->stream = Multiplex(0.1);
    h.tuner->transfer_size = 188 * 50;
    h.tuner->loop = true;
    ASSERT_TRUE(h.Initialise());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.tuner->Release();
    ASSERT_TRUE(h.tuner->WaitDelivered());
    for (int i = 0; i < 20; ++i) {
        h.clock.Advance(1000);  // a new automatic name each time
        ASSERT_TRUE(h.app->StartRecording() && h.app->StartSending());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        h.app->RunStatusDisplay();
        h.app->ToggleRecording();
        h.app->ToggleSending();
        h.ui_thread.Drain();
    }
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.file_size() % 188, 0u) << "only whole packets are recorded";
        ++files;
    }
    EXPECT_EQ(files, 20u);
}

// The built-in device end to end: the FX2 device's transfer threads over the simulated driver,
// with firmware init on, record exactly the generated multiplex.
TEST(CaptureCycle, SimulatedFx2RecordsTheGeneratedStream) {
    test_support::TempDir dir;
    sim::SimulatedFx2Config config;
    config.stream.multiplex.seconds = 0.3;
    config.stream.multiplex.seed = 11;
    config.stream.loop = false;
    config.stream.pacing = sim::Pacing::kAsFastAsPossible;
    const std::vector<uint8_t> expected = Multiplex(0.3, 11);
    sim::SimulatedTuner simulated = sim::MakeSimulatedTuner(config);  // outlives the application
    const CDTV_EzUSBFX2* fx2 = simulated.device.get();
    AppHarness h([&](Settings& s) {
        s.hv_kelvra_init = 1;
        s.no_reject_nullpacket = 1;
    });
    h.pending_device = std::move(simulated.device);
    h.tuner = nullptr;
    h.ui.save_path = dir.File("fx2.ts");
    ASSERT_TRUE(h.Initialise());
    // The box is shown, enabled and checked as stored only for the FX2 device.
    const auto& init = h.app->Window().firmware_init;
    EXPECT_TRUE(init.visible && init.enabled && init.checked);
    EXPECT_EQ(h.app->Window().endpoint_out.entries.back().text, "0x01");
    // The simulated device streams from the connect on: the recording is ready before it.
    ASSERT_TRUE(h.app->StartRecording());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_TRUE(fx2->firmware_init);
    for (int i = 0; i < 5000 && simulated.driver->BytesStreamed() < expected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(simulated.driver->BytesStreamed(), expected.size());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_EQ(ReadWholeFile(dir.File("fx2.ts")), expected);
    EXPECT_EQ(h.app->Stats().overflow_resets.load(), 0u);
    const auto& requests = simulated.driver->Requests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const sim::LoggedRequest& r) {
        return r.endpoint == 0x01 && r.data == std::vector<uint8_t>{0x80, 0x00};
    })) << "the firmware-init sequence went out on the OUT endpoint";
}

}  // namespace
}  // namespace tavrel
