#pragma once

#include <QApplication>
#include <QTableWidget>
#include <QTimer>
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

// Runs `act` on the modal window named `name` once it is open (a modal dialog's exec() blocks
// the test until something inside its event loop closes it). Gives up after the timeout.
inline void WhenModal(const char* name, std::function<void(QWidget&)> act, int timeout_ms = 10000) {
    auto* timer = new QTimer();
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, waited, name, act = std::move(act), timeout_ms] {
                         QWidget* modal = QApplication::activeModalWidget();
                         *waited += 20;
                         if (modal != nullptr && modal->objectName() == name) {
                             timer->stop();
                             timer->deleteLater();
                             act(*modal);
                         } else if (*waited > timeout_ms) {
                             ADD_FAILURE() << "no modal window " << name;
                             timer->stop();
                             timer->deleteLater();
                         }
                     });
    timer->start(20);
}

// The named child widget; fails the test when absent.
template <class W>
W& Child(QWidget& in, const char* name) {
    W* w = in.findChild<W*>(name);
    if (w == nullptr) {
        ADD_FAILURE() << "no widget " << name;
        throw std::runtime_error(std::string("no widget ") + name);
    }
    return *w;
}

inline std::string CellText(QTableWidget& list, int row, int column) {
    const QTableWidgetItem* item = list.item(row, column);
    return item == nullptr ? std::string() : item->text().toStdString();
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

    // A child widget of the main window.
    template <class W>
    W& Find(const char* name) {
        return Child<W>(app->Main(), name);
    }

    void WriteIni(const std::string& text) const {
        test_support::WriteText(dir.File("tavrel.ini"), text);
    }
    // Each line is in tavrel.ini (written when the main window closes).
    void ExpectIni(std::initializer_list<std::string> lines) const {
        const std::string ini = test_support::ReadText(dir.File("tavrel.ini"));
        for (const std::string& line : lines) {
            EXPECT_NE(ini.find(line + "\n"), std::string::npos) << line << " in\n" << ini;
        }
    }

    test_support::TempDir dir;
    test_support::ScriptedUi ui;
    std::unique_ptr<gui::GuiApp> app;
};

}  // namespace tavrel::testing
