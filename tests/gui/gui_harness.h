#pragma once

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/app_harness.h"
#include "app/main_window.h"
#include "gui/gui_app.h"
#include "platform/temp_dir.h"

namespace tavrel::testing {

// Runs the Qt event loop until the condition holds or the time is up; the condition's last
// value.
inline bool ProcessEventsUntil(const std::function<bool()>& condition, int timeout_ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The desktop application as a user starts it, in a scratch start directory with scripted
// dialogs (every message kept, the save picker answered by the test).
struct GuiHarness {
    explicit GuiHarness(gui::GuiOptions options = {}) {
        options.start_directory = dir.Path();
        options.ui = &ui;
        options.real_tuners = false;  // a tuner plugged into the test machine must not be chosen
        app = std::make_unique<gui::GuiApp>(std::move(options));
    }

    // The named child widget of the main window (or of another window); fails the test when
    // absent.
    template <class W>
    W& Find(const char* name, QWidget* in = nullptr) {
        QWidget* root = in != nullptr ? in : &app->Main();
        W* w = root->findChild<W*>(name);
        if (w == nullptr) {
            ADD_FAILURE() << "no widget " << name;
            throw std::runtime_error(std::string("no widget ") + name);
        }
        return *w;
    }

    test_support::TempDir dir;
    test_support::ScriptedUi ui;
    std::unique_ptr<gui::GuiApp> app;
};

}  // namespace tavrel::testing
