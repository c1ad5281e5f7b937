#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/capture_app.h"
#include "app/settings.h"
#include "gui/qt_ui_services.h"
#include "gui/qt_ui_thread.h"
#include "sim/simulated_fx2.h"

namespace tavrel {
class MainWindow;
class ScheduleWindow;
class ServiceWindow;
}  // namespace tavrel

namespace tavrel::gui {

// How the desktop application starts. The program reads nothing but the settings of its start
// directory; tests hand in a scratch directory, their own dialogs and tuner.
struct GuiOptions {
    std::string start_directory;  // empty: the working directory
    // Dialogs; null: Qt message boxes and pickers.
    UiServices* ui = nullptr;
    // The built-in simulated tuner; the multiplex runs for as long as the capture.
    sim::SimulatedFx2Config tuner = DefaultTuner();
    // Plugged FX2 tuners are listed before the simulated one; tests keep to the simulated one.
    bool real_tuners = true;

    static sim::SimulatedFx2Config DefaultTuner();
};

// The program: the settings file, the Qt platform ports, the tuner, the application object and
// its windows, built in the order the program entry needs and torn down in reverse.
//
// Start reads the settings and opens the main window; the window's accepted close writes them
// (through Finish) and calls the closed handler (the program entry: leave the event loop).
class GuiApp {
public:
    explicit GuiApp(GuiOptions options = {});
    ~GuiApp();
    GuiApp(const GuiApp&) = delete;
    GuiApp& operator=(const GuiApp&) = delete;

    // False with a message box when the tuner cannot be built or opened.
    bool Start();
    // Writes the settings file; the main window calls it once its close was accepted.
    void Finish();
    void SetClosedHandler(std::function<void()> handler) { closed_ = std::move(handler); }

    CaptureApp& App() { return *app_; }
    MainWindow& Main() { return *main_; }
    QtUiThread& UiThread() { return ui_thread_; }
    UiServices& Ui() { return *ui_; }
    sim::SimulatedFx2* Driver() { return driver_; }
    ServiceWindow& Services() { return *service_; }
    ScheduleWindow& Schedule() { return *schedule_; }
    const SettingsFile& File() const { return file_; }

private:
    GuiOptions options_;
    SettingsFile file_;
    QtUiThread ui_thread_;
    QtUiServices qt_ui_;
    UiServices* ui_;
    // Declared before the application: the drivers outlive the device the application owns.
    std::shared_ptr<void> drivers_;
    sim::SimulatedFx2* driver_ = nullptr;
    // The application talks to these two until it is gone: declared before it.
    std::unique_ptr<ScheduleWindow> schedule_;
    std::unique_ptr<ServiceWindow> service_;
    std::unique_ptr<CaptureApp> app_;
    std::unique_ptr<MainWindow> main_;
    std::function<void()> closed_;
    bool finished_ = false;
};

}  // namespace tavrel::gui
