#pragma once

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/app_harness.h"
#include "app/main_window.h"
#include "cli/analyzer.h"
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

// Writes the picture to build/screenshots/<name>.png, for a person to look at; returns the
// path, empty when it could not be written.
inline std::string SavePicture(const QPixmap& picture, const std::string& name) {
    const std::filesystem::path folder = TAVREL_SCREENSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (folder / (name + ".png")).string();
    return picture.save(QString::fromStdString(path), "PNG") ? path : std::string();
}

// A picture of the widget (QWidget::grab). Lays the widget out and paints it first, so a window
// never shown still shows its default size.
inline std::string SaveScreenshot(QWidget& widget, const std::string& name) {
    widget.ensurePolished();
    if (!widget.isVisible()) {
        widget.adjustSize();
    }
    return SavePicture(widget.grab(), name);
}

// A picture of the window with the tooltip shown over it, painted where it stands: the tip is
// a window of its own, which a grab of the window leaves out.
inline std::string SaveScreenshotWithTip(QWidget& window, const std::string& name) {
    const QPixmap shot = window.grab();
    QRect area(QPoint(0, 0), shot.size() / shot.devicePixelRatio());
    QPixmap tip;
    QPoint tip_at;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->inherits("QTipLabel") && top->isVisible()) {
            tip = top->grab();
            tip_at = window.mapFromGlobal(top->pos());
            area = area.united(QRect(tip_at, top->size()));
        }
    }
    // The canvas holds the window and the tip wherever it stands, nothing cut off.
    QPixmap picture(area.size());
    picture.fill(Qt::lightGray);
    {
        QPainter painter(&picture);
        painter.drawPixmap(-area.topLeft(), shot);
        if (!tip.isNull()) {
            painter.drawPixmap(tip_at - area.topLeft(), tip);
        }
    }
    return SavePicture(picture, name);
}

// What the analyzer finds in a recorded file.
inline cli::AnalysisReport AnalyzeFile(const std::string& path) {
    const std::vector<uint8_t> bytes = test_support::ReadWholeFile(path);
    const cli::AnalyzeOptions options;  // the analyzer keeps a reference
    cli::Analyzer analyzer(options);
    analyzer.Feed(bytes.data(), bytes.size());
    analyzer.Finish();
    return analyzer.Report();
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

    // A folder for automatically named recordings, and the settings lines that choose it.
    std::string AutoRecordingIni() const {
        std::filesystem::create_directories(dir.File("recordings"));
        return "REC_AUTOFILENAME=1\nREC_AUTOPATH=" + dir.File("recordings") + "\n";
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
