#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/capture_app.h"
#include "app/fake_tuner.h"
#include "platform/clock.h"
#include "platform/timer_resolution.h"
#include "platform/ui_services.h"
#include "platform/ui_thread.h"
#include "sim/multiplex.h"

namespace tavrel::test_support {

// Message boxes and pickers answered by the test; every message is kept.
class ScriptedUi final : public UiServices {
public:
    struct Message {
        std::string text;
        std::string caption;
        friend bool operator==(const Message&, const Message&) = default;
    };

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons) override {
        messages.push_back({std::string(text), std::string(caption)});
        return MessageAnswer::kOk;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest& request) override {
        save_requests.push_back(request);
        return save_path;
    }
    std::optional<std::string> BrowseForFolder() override { return folder; }

    std::vector<Message> messages;
    std::vector<SaveFileRequest> save_requests;
    std::optional<std::string> save_path;
    std::optional<std::string> folder;  // the folder browser's answer
};

class FakeTimer final : public TimerResolution {
public:
    TimerFacts Facts() const override { return facts; }
    bool Begin(uint32_t period) override {
        if (refuse) {
            return false;
        }
        active.push_back(period);
        return true;
    }
    void End(uint32_t period) override {
        ended.push_back(period);
        std::erase(active, period);
    }

    TimerFacts facts{15.625, 1, 1000000};
    bool refuse = false;
    std::vector<uint32_t> active;
    std::vector<uint32_t> ended;
};

// The generated multiplex of the given length, as one byte vector; its plan in `manifest`;
// `change` alters the rest of the configuration.
inline std::vector<uint8_t> Multiplex(
    double seconds, uint64_t seed = 7, sim::MultiplexManifest* manifest = nullptr,
    const std::function<void(sim::MultiplexConfig&)>& change = {}) {
    sim::MultiplexConfig config;
    config.seconds = seconds;
    config.seed = seed;
    if (change) {
        change(config);
    }
    sim::MultiplexGenerator generator(config);
    std::vector<uint8_t> out;
    generator.Run(
        [&](std::span<const uint8_t> chunk) { out.insert(out.end(), chunk.begin(), chunk.end()); });
    if (manifest != nullptr) {
        *manifest = generator.Manifest();
    }
    return out;
}

// An application with a FakeTuner (another device can replace `pending_device` before
// Initialise), a fake clock, a UI thread the test drains and scripted dialogs.
struct AppHarness {
    explicit AppHarness(Settings s = Settings{}) : settings(std::move(s)) {
        app = std::make_unique<CaptureApp>(settings, AppEnvironment{clock, ui_thread, ui, timer});
        auto t = std::make_unique<FakeTuner>(clock);
        tuner = t.get();
        pending_device = std::move(t);
    }
    // With the defaults as `change` leaves them.
    explicit AppHarness(const std::function<void(Settings&)>& change)
        : AppHarness([&] {
              Settings s;
              change(s);
              return s;
          }()) {}
    ~AppHarness() {
        if (app && app->Capturing() && tuner) {
            tuner->Release();
        }
        app.reset();
    }

    // Initialises the window with the tuner set up so far.
    bool Initialise(ServiceWindowPort* service = nullptr, ReservationPort* reservations = nullptr) {
        return app->Initialise(std::move(pending_device), service, reservations);
    }

    // Starts the capture, lets the fake tuner deliver its stream once and waits until the
    // processing thread has taken every full block of it.
    void CaptureAll() {
        ASSERT_EQ(app->StartStop(), StartError::kNone);
        tuner->Release();
        ASSERT_TRUE(tuner->WaitDelivered());
        for (int i = 0; i < 5000 && app->ChunkBuffer().Held() >= CaptureApp::kBlockSize; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ui_thread.Drain();
    }

    FakeClock clock{100000, {2009, 1, 2, 3, 4, 5, 0, 5}};
    QueuedUiThread ui_thread;
    ScriptedUi ui;
    FakeTimer timer;
    Settings settings;
    std::unique_ptr<CaptureApp> app;
    FakeTuner* tuner = nullptr;
    std::unique_ptr<CDTV_Base> pending_device;
};

}  // namespace tavrel::test_support
