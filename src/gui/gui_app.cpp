#include "gui/gui_app.h"

#include <cstdio>
#include <exception>

#include "app/main_window.h"
#include "reservation/schedule_window.h"
#include "sim/program_tuner.h"
#include "ui/service_window.h"

namespace tavrel::gui {
namespace {

SettingsFile FileFor(const std::string& start_directory) {
    return start_directory.empty() ? SettingsFile::AtStart() : SettingsFile(start_directory);
}

}  // namespace

sim::SimulatedFx2Config GuiOptions::DefaultTuner() {
    sim::SimulatedFx2Config config;
    config.stream.multiplex.seconds = 86400;
    return config;
}

GuiApp::GuiApp(GuiOptions options)
    : options_(std::move(options)),
      file_(FileFor(options_.start_directory)),
      ui_(options_.ui != nullptr ? options_.ui : &qt_ui_) {}

GuiApp::~GuiApp() {
    // The windows go first: they draw the application's state. Work the application still
    // posts while it stops finds no window to redraw.
    ui_thread_.ClearDrainedListeners();
    main_.reset();
    app_.reset();
}

bool GuiApp::Start() {
    Settings settings = file_.Defaults();
    file_.LoadSave(settings, false);

    sim::ProgramTuner tuner;
    try {
        tuner = sim::MakeProgramTuner({.simulated = options_.tuner,
                                       .extra_usb_ids = settings.extra_usb_ids,
                                       .real_tuners = options_.real_tuners});
    } catch (const std::exception& e) {
        ui_->ShowMessage(e.what(), "tavrel", MessageButtons::kOk);
        return false;
    }
    if (!tuner.note.empty()) {
        std::fprintf(stderr, "tavrel: %s\n", tuner.note.c_str());
    }
    drivers_ = std::move(tuner.backing);
    driver_ = tuner.simulated;
    schedule_ = std::make_unique<ScheduleWindow>(ui_thread_, *ui_, SystemClock::Instance(),
                                                 tuner.device.get());
    schedule_->Manager().LoadSchedule(file_.SchedulePath());
    service_ = std::make_unique<ServiceWindow>(ui_thread_, *ui_, SystemClock::Instance());
    service_->Core().SetReservationRequests(&schedule_->Requests());
    app_ = std::make_unique<CaptureApp>(std::move(settings),
                                        AppEnvironment{SystemClock::Instance(), ui_thread_, *ui_,
                                                       SystemTimerResolution::Instance()});
    main_ = std::make_unique<MainWindow>(*app_, ui_thread_, *ui_);
    qt_ui_.SetFallbackParent(main_.get());
    main_->SetCloseAccepted([this] {
        Finish();
        if (closed_) {
            closed_();
        }
    });
    if (!app_->Initialise(std::move(tuner.device), service_.get(), schedule_.get())) {
        ui_->ShowMessage("チューナーを開けません。", "tavrel", MessageButtons::kOk);
        return false;
    }
    main_->ShowInitialised();
    return true;
}

void GuiApp::Finish() {
    if (finished_ || !app_) {
        return;
    }
    finished_ = true;
    Settings settings = app_->CurrentSettings();
    file_.LoadSave(settings, true);
}

}  // namespace tavrel::gui
