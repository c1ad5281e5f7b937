#include "cli/capture_command.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <ostream>

#include "app/capture_app.h"
#include "app/settings.h"
#include "cli/commands.h"
#include "cli/multiplex_options.h"
#include "cli/options.h"
#include "platform/ui_thread.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"
#include "reservation/schedule_commands.h"
#include "sim/program_tuner.h"
#include "sim/simulated_fx2.h"
#include "ui/service_window_core.h"
#include "ui/service_window_link.h"

namespace tavrel::cli {
namespace {

std::atomic<bool> g_interrupted{false};
// The capture loop looks at the interrupt flag at least this often.
constexpr auto kInterruptPoll = std::chrono::milliseconds(100);

uint32_t MillisecondsUntil(std::chrono::steady_clock::time_point t) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(t - std::chrono::steady_clock::now());
    return static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
}

extern "C" void OnInterrupt(int) {
    g_interrupted.store(true);
}

// Message boxes become lines on standard error; the save picker answers with --record.
class ConsoleUi final : public UiServices {
public:
    ConsoleUi(std::ostream& err, std::string record) : err_(err), record_(std::move(record)) {}

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons buttons) override {
        err_ << "tavrel-cli: [" << caption << "] " << (text.empty() ? "(no text)" : text) << "\n";
        return buttons == MessageButtons::kYesNo ? MessageAnswer::kNo : MessageAnswer::kOk;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override {
        if (record_.empty()) {
            return std::nullopt;
        }
        return record_;
    }
    std::optional<std::string> BrowseForFolder() override { return std::nullopt; }

private:
    std::ostream& err_;
    std::string record_;
};

uint16_t ParseEndpoint(const std::string& text, const std::string& option, bool allow_none) {
    if (allow_none && text == "none") {
        return kNoEndpoint;
    }
    return static_cast<uint16_t>(ParseNumber(text, 0, 0xFF, option, true));
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return text;
}

// The program's tuner: the FX2 tuners plugged into this machine, then the built-in simulated
// one streaming the generated multiplex or the --source file in real time.
Tuner ProgramTuner(const CaptureOptions& o, std::string& error) {
    sim::ProgramTunerConfig config;
    config.simulated.stream.multiplex = o.multiplex;
    config.simulated.stream.ts_file = o.source;
    config.simulated.stream.file_bitrate = o.multiplex.bitrate;
    config.extra_usb_ids = o.extra_usb_ids;
    try {
        sim::ProgramTuner tuner = sim::MakeProgramTuner(std::move(config));
        return {std::move(tuner.backing), std::move(tuner.device), std::move(tuner.note)};
    } catch (const std::exception& e) {
        error = e.what();
        return {};
    }
}

void ListDevices(CaptureApp& app, std::ostream& out) {
    const size_t count = app.Window().device.entries.size();
    if (count == 0) {
        out << "no devices\n";
    }
    for (size_t i = 0; i < count; ++i) {
        app.OnDeviceSelected(static_cast<int>(i));
        const MainWindowState& w = app.Window();
        out << i << ": " << w.device.entries[i].text << "\n    in:";
        for (const ComboEntry& e : w.endpoint_in.entries) {
            out << " " << e.text;
        }
        out << "\n    out:";
        for (const ComboEntry& e : w.endpoint_out.entries) {
            out << " " << (e.data == kNoEndpoint ? "none" : e.text);
        }
        out << "\n";
    }
}

// Chooses device and endpoints in the window state as a user would; a UsageError when the
// choice does not exist.
void ChooseDevice(CaptureApp& app, const CaptureOptions& o) {
    MainWindowState& w = app.Window();
    if (o.device >= static_cast<int>(w.device.entries.size())) {
        throw UsageError{"there is no device " + std::to_string(o.device) +
                         " (see --list-devices)"};
    }
    app.OnDeviceSelected(o.device);
    char text[8];
    if (o.in_endpoint && !w.endpoint_in.SelectData(*o.in_endpoint)) {
        std::snprintf(text, sizeof text, "0x%02X", *o.in_endpoint);
        throw UsageError{std::string("the device has no bulk IN endpoint ") + text};
    }
    if (o.out_endpoint && !w.endpoint_out.SelectData(*o.out_endpoint)) {
        std::snprintf(text, sizeof text, "0x%02X", *o.out_endpoint);
        throw UsageError{std::string("the device has no bulk OUT endpoint ") + text};
    }
    if (o.firmware_init) {
        if (!w.firmware_init.visible) {
            throw UsageError{"the device has no firmware initialisation"};
        }
        w.firmware_init.checked = true;
    }
}

// The end of a capture with a schedule: what was recorded and what stays pending. A reserved
// recording cut short by the stop keeps its entry, so the next capture records the rest.
void ReportReservations(const ReservationManager& manager, const std::string& schedule,
                        std::ostream& out) {
    if (manager.ActiveIsRecording()) {
        out << "reserved recording interrupted: " << manager.ActivePath() << "\n";
    }
    for (const Reservation& r : manager.Finished()) {
        const std::array<std::string, 4> columns = ScheduleColumns(r);
        out << "reservation done: " << columns[0] << " " << columns[1] << " " << columns[2] << "\n";
    }
    out << "schedule " << schedule << ": " << manager.Pending().size() << " reservations pending\n";
}

// The services the service window's core found, with the programme it shows for each.
void PrintServices(const CServiceWindow& window, std::ostream& out) {
    for (const ServiceListItem& item : window.ServiceItems()) {
        out << "service " << item.cells[kColumnServiceId] << " "
            << (item.cells[kColumnChannelName].empty() ? "(no name)"
                                                       : item.cells[kColumnChannelName])
            << " | pmt " << item.cells[kColumnPmt] << " | " << item.cells[kColumnProgramme] << "\n";
    }
}

// Says when the engine opens a reserved recording, once per file.
class ReservationLog {
public:
    explicit ReservationLog(const ReservationManager& manager) : manager_(manager) {}

    void Update(std::ostream& out) {
        std::string path = manager_.ActiveIsRecording() ? manager_.ActivePath() : std::string();
        if (!path.empty() && path != path_) {
            out << "reserved recording to " << path << "\n";
        }
        path_ = std::move(path);
    }

private:
    const ReservationManager& manager_;
    std::string path_;
};

int Capture(const CaptureOptions& o, std::ostream& out, std::ostream& err,
            const DeviceFactory& factory) {
    const SettingsFile file =
        o.settings_dir.empty() ? SettingsFile::AtStart() : SettingsFile(o.settings_dir);
    Settings settings = file.Defaults();
    file.LoadSave(settings, false);
    const Settings stored = settings;
    settings.rec_autofilename = o.record_auto ? 1 : 0;
    if (!o.schedule.empty()) {
        // Reservations need the tables: the service limitation rewrites the PAT from the PMTs,
        // and event reservations follow the programme guide.
        settings.decode_psi = 1;
        settings.proc_epg = 1;
    }
    if (o.stop_timer) {
        settings.rec_time = *o.stop_timer;
    }
    if (!o.udp_host.empty()) {
        settings.network_address = o.udp_host;
        settings.network_port = o.udp_port;
    }
    if (o.udp_size) {
        settings.network_send_size = static_cast<int32_t>(*o.udp_size);
    }

    QueuedUiThread ui_thread;
    ConsoleUi ui(err, o.record);
    std::string error;
    CaptureOptions with_settings = o;
    with_settings.extra_usb_ids = settings.extra_usb_ids;
    // Declared before the application: the backing outlives the device the application owns.
    Tuner tuner = factory(with_settings, error);
    if (!tuner.device) {
        err << "tavrel-cli: " << error << "\n";
        return kExitFailure;
    }
    // The service window's core and the reservation engine outlive the application, which
    // talks to them until it is gone.
    CServiceWindow services(ui_thread, ui, SystemClock::Instance());
    ServiceWindowLink service_link(services);
    ReservationManager reservations(SystemClock::Instance(), &ui, tuner.device.get());
    ReservationEnginePort reservation_port(reservations);
    ReservationLog reservation_log(reservations);
    if (!o.schedule.empty()) {
        reservations.LoadSchedule(o.schedule);
        out << "schedule " << o.schedule << ": " << reservations.Pending().size()
            << " reservations pending\n";
    }
    CaptureApp app(settings, AppEnvironment{SystemClock::Instance(), ui_thread, ui,
                                            SystemTimerResolution::Instance()});
    if (!app.Initialise(std::move(tuner.device), &service_link,
                        o.schedule.empty() ? nullptr : &reservation_port)) {
        err << "tavrel-cli: the tuner cannot be opened\n";
        return kExitFailure;
    }
    if (o.list_devices) {
        ListDevices(app, out);
        if (!tuner.note.empty()) {
            err << "tavrel-cli: " << tuner.note << "\n";
        }
        return kExitOk;
    }
    ChooseDevice(app, o);

    if (app.StartStop() != StartError::kNone) {
        return kExitFailure;  // the message went to standard error
    }
    std::string recording;
    bool ok = true;
    if (!o.record.empty() || o.record_auto) {
        ok = app.StartRecording();
        if (ok) {
            recording = app.ActiveRecorder()->FilePath();
            out << "recording to " << recording << "\n";
        }
    }
    if (ok && !o.udp_host.empty()) {
        ok = app.StartSending();
    }

    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const auto start = std::chrono::steady_clock::now();
    auto next_line = start + std::chrono::seconds(1);
    while (ok && !g_interrupted.load()) {
        // Wakes for posted work (status refreshes), the next status line, or at the latest
        // after kInterruptPoll to notice Ctrl-C.
        const auto until = std::min(next_line, std::chrono::steady_clock::now() + kInterruptPoll);
        ui_thread.WaitForWork(MillisecondsUntil(until));
        ui_thread.Drain();
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_line) {
            app.RunStatusDisplay();
            reservation_log.Update(out);
            out << StatusLine(app.Window()) << std::endl;
            next_line += std::chrono::seconds(1);
        }
        if (o.seconds != 0 && now - start >= std::chrono::seconds(o.seconds)) {
            break;
        }
    }
    std::signal(SIGINT, previous);
    std::signal(SIGTERM, SIG_DFL);

    // What the service window shows, before the end of the stream empties it.
    ui_thread.Drain();
    PrintServices(services, out);

    // The stop drains the buffer, closes the recording and writes out its last bytes.
    const bool was_recording = app.ActiveRecorder() != nullptr;
    app.StartStop();
    ui_thread.Drain();
    if (!recording.empty()) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(recording, ec);
        out << (was_recording ? "recorded " : "recording stopped early: ")
            << (ec ? std::string("?") : std::to_string(size)) << " bytes to " << recording << "\n";
    }
    if (!o.schedule.empty()) {
        ReportReservations(reservations, o.schedule, out);
    }
    app.Close();  // writes the schedule's pending list
    if (!o.schedule.empty() && !reservation_port.Saved()) {
        err << "tavrel-cli: cannot write " << o.schedule << "\n";
        ok = false;
    }
    Settings to_store = app.CurrentSettings();
    to_store.rec_autofilename = stored.rec_autofilename;
    to_store.decode_psi = stored.decode_psi;
    to_store.proc_epg = stored.proc_epg;
    file.LoadSave(to_store, true);
    return ok ? kExitOk : kExitFailure;
}

}  // namespace

CaptureOptions ParseCaptureOptions(const std::vector<std::string>& args) {
    CaptureOptions o;
    o.multiplex.seconds = 86400;  // the simulated tuner runs for as long as the capture
    ArgumentWalk walk(args);
    while (walk.More()) {
        const std::string& a = walk.Next();
        if (ParseMultiplexOption(a, walk, o.multiplex, false)) {
            continue;
        } else if (a == "--list-devices") {
            o.list_devices = true;
        } else if (a == "--device") {
            o.device = static_cast<int>(ParseNumber(walk.Value(a), 0, 127, a));
        } else if (a == "--in") {
            o.in_endpoint = ParseEndpoint(walk.Value(a), a, false);
        } else if (a == "--out") {
            o.out_endpoint = ParseEndpoint(walk.Value(a), a, true);
        } else if (a == "--firmware-init") {
            o.firmware_init = true;
        } else if (a == "--source") {
            o.source = walk.Value(a);
        } else if (a == "--seconds") {
            o.seconds = static_cast<uint32_t>(ParseNumber(walk.Value(a), 1, 86400 * 7, a));
        } else if (a == "--record") {
            o.record = walk.Value(a);
        } else if (a == "--record-auto") {
            o.record_auto = true;
        } else if (a == "--stop-timer") {
            o.stop_timer = static_cast<int32_t>(ParseNumber(walk.Value(a), 0, 35791, a));
        } else if (a == "--udp") {
            const std::string& target = walk.Value(a);
            const size_t colon = target.rfind(':');
            if (colon == std::string::npos || colon == 0) {
                throw UsageError{"--udp needs HOST:PORT, not '" + target + "'"};
            }
            o.udp_host = target.substr(0, colon);
            o.udp_port = static_cast<uint16_t>(ParseNumber(target.substr(colon + 1), 1, 65535, a));
        } else if (a == "--udp-size") {
            o.udp_size = static_cast<uint32_t>(ParseNumber(walk.Value(a), 1, 65507, a));
        } else if (a == "--settings-dir") {
            o.settings_dir = walk.Value(a);
        } else if (a == "--schedule") {
            o.schedule = walk.Value(a);
        } else {
            throw UsageError{ArgumentWalk::IsOption(a) ? "unknown option " + a
                                                       : "capture takes no file; did you mean "
                                                         "--record or --source?"};
        }
    }
    if (!o.record.empty() && o.record_auto) {
        throw UsageError{"--record and --record-auto exclude each other"};
    }
    return o;
}

std::string StatusLine(const MainWindowState& w) {
    std::string line =
        "time " + w.time.text + " ok " + w.success.text + " ng " + w.failure.text + " " +
        w.rate.text + " | buf " + OneLine(w.buffer.text) + " | pkt " + w.packet_length.text +
        " sync " + w.sync_errors.text + " cc " + w.discontinuities.text + " scr " +
        w.scrambled.text + " | " +
        (w.broadcast_time.text.empty() ? "(no time)" : OneLine(w.broadcast_time.text)) + " | " +
        w.recording.text;
    if (w.free_space.text != " ") {
        line += " " + w.free_space.text;
    }
    if (w.status_bar[0] != " ") {
        line += " " + w.status_bar[0] + " " + w.status_bar[1];
    }
    line += " | " + w.udp.text;
    if (w.status_bar[2] != kNoStatusText) {
        line += " | " + w.status_bar[2];
    }
    return line;
}

int RunCaptureWith(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const DeviceFactory& factory) {
    try {
        return Capture(ParseCaptureOptions(args), out, err, factory);
    } catch (const UsageError& e) {
        err << "tavrel-cli: " << e.message << "\n";
        return kExitUsage;
    }
}

int RunCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return RunCaptureWith(args, out, err, &ProgramTuner);
}

}  // namespace tavrel::cli
