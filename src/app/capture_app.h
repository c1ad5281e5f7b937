#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/channel_window_core.h"
#include "app/child_windows.h"
#include "app/main_window_state.h"
#include "app/options_core.h"
#include "app/settings.h"
#include "app/status_display.h"
#include "capture/chunk_buffer.h"
#include "capture/output_slot.h"
#include "capture/recorder.h"
#include "capture/stream_stats.h"
#include "capture/udp_sender.h"
#include "device/device_notification.h"
#include "device/dtv_base.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"
#include "platform/timer_resolution.h"
#include "platform/ui_services.h"
#include "platform/ui_thread.h"

namespace tavrel {

class CTsProcessor;

// Why a capture start gave up. The codes stay internal; the user sees only the messages the
// failing step shows.
enum class StartError : int {
    kNone = 0,
    kNoDevice = 1,
    kNoInEndpoint = 2,
    kNoOutEndpoint = 3,
    kTimerPeriod = 5,
    kConnect = 9,
    kThreadCreation = 10,
    kInEndpointMissing = 22,
    kOutEndpointMissing = 23,
};

// The services of the machine the application works with; tests hand in fakes.
struct AppEnvironment {
    const Clock& clock = SystemClock::Instance();
    UiThread& ui_thread;
    UiServices& ui;
    TimerResolution& timer = SystemTimerResolution::Instance();
};

// The application object: the settings, the tuner, the capture chunk buffer, the capture
// session with its processing thread, the manual recording and UDP sending, and the main
// window's state and commands. Everything but the two callbacks and the queries runs on the
// main (user-interface) thread.
//
// Threads of a capture: the device's completion thread calls DeviceDataCallback, which writes
// into the chunk buffer and posts a status refresh to the UI thread at most every 300 ms; the
// processing thread drains the buffer in 32 KiB blocks into the stream processor and runs its
// callback (recorder and sender through their OutputSlots, output 1 to the reservation port,
// table events to the service window and the reservation port).
class CaptureApp final : public DeviceNotificationRecipient, public ProcessorQueries {
public:
    static constexpr uint32_t kChunkBufferLimit = 0xA00000;
    static constexpr uint32_t kBlockSize = 0x8000;
    static constexpr uint32_t kRateInterval = 600;     // ms between rate samples
    static constexpr uint32_t kRefreshInterval = 300;  // ms between status refresh requests
    static constexpr uint32_t kStopWait = 10000;       // ms for the processing thread to end

    CaptureApp(Settings settings, AppEnvironment env);
    ~CaptureApp() override;
    CaptureApp(const CaptureApp&) = delete;
    CaptureApp& operator=(const CaptureApp&) = delete;

    // The window's initialisation: takes the tuner and opens it, sets the controls from the
    // settings, places the child windows and searches the devices. The ports are the service
    // window and the reservation engine (null: the stand-ins). False when the device cannot
    // be opened; the window then shows nothing more.
    bool Initialise(std::unique_ptr<CDTV_Base> device, ServiceWindowPort* service = nullptr,
                    ReservationPort* reservations = nullptr);

    // Main window commands.
    void SearchDevices();
    void OnDeviceSelected(int index);  // 1001, selection changed
    void FillEndpointLists();
    StartError StartStop();  // 1002
    void ToggleRecording();  // 1017
    bool StartRecording();
    void StopRecording();
    void AddTenMinutes();  // 1034
    void ToggleSending();  // 1023
    bool StartSending();
    void StopSending();
    void Clear();  // "クリア"
    void RunStatusDisplay();
    // The close box and "終了": false (with a message) while capturing; otherwise stores the
    // windows' places and states into the settings and returns true.
    bool Close();
    void ToggleChannelWindow();
    void ToggleServiceWindow();
    void ToggleScheduleWindow();
    // "設定": the dialog's logic, or nothing (after a message) while capturing. ApplyOptions
    // takes what its OK returned.
    std::optional<OptionsDialogCore> OpenOptions();
    void ApplyOptions(const Settings& settings);
    // Channel window buttons.
    bool ChangeChannel() { return channel_->Change(); }
    int SendChannelText() { return channel_->Send(); }

    // DeviceNotificationRecipient: searches again on the UI thread; during a capture the search
    // waits for its stop, so a tuner plugged in elsewhere cannot end a running recording.
    void OnDeviceChange(bool arrival) override;

    // ProcessorQueries.
    int ServiceName(uint16_t service_id, char* destination, uint32_t size) override;
    int SetServiceFilter(const uint16_t* programs, uint32_t program_count, const uint16_t* pids,
                         uint32_t pid_count) override;
    int WriteDataBroadcast(const std::string& folder, uint16_t pid) override;
    int ReservationFilter(uint32_t mode, const uint16_t* programs, uint32_t program_count,
                          const uint16_t* pids, uint32_t pid_count) override;
    int EventById(uint16_t service_id, uint16_t event_id, EventRecord& out) override;
    int EventOnAir(uint16_t service_id, MjdTime at, EventRecord& out) override;

    // The two callbacks of a capture; user is the CaptureApp.
    static void DeviceDataCallback(const uint8_t* data, uint32_t length, uint32_t total_low,
                                   uint32_t total_high, void* user);
    static void ProcessorOutputCallback(uint32_t type, uint32_t a, const void* data,
                                        uint32_t length, void* user);

    // State for the window and the headless command.
    bool Capturing() const { return capturing_; }
    const MainWindowState& Window() const { return window_; }
    MainWindowState& Window() { return window_; }
    ChannelWindowCore& ChannelWindow() { return *channel_; }
    const Settings& CurrentSettings() const { return settings_; }
    Settings& MutableSettings() { return settings_; }
    CDTV_Base* Device() { return device_.get(); }
    CBufferMT& ChunkBuffer() { return chunk_buffer_; }
    StreamStats& Stats() { return stats_; }
    const Recorder* ActiveRecorder() const { return recorder_.Peek(); }
    const UdpSender* ActiveSender() const { return sender_.Peek(); }
    uint32_t AutoStopTick() const { return auto_stop_tick_; }
    // What the status display reads, now.
    StatusSnapshot TakeSnapshot() const;
    RecursiveLock& AppLock() { return app_lock_; }

    // Test seam: the free space the status display sees for the running recording, instead of
    // asking the disk.
    using FreeSpaceProbe = std::function<uint64_t(const Recorder&)>;
    void SetFreeSpaceProbe(FreeSpaceProbe probe) { free_space_probe_ = std::move(probe); }

private:
    class StartUndo;

    StartError Start();
    void Stop();
    void ProcessingThread(bool decode_tables, bool program_guide, bool data_broadcast,
                          bool keep_null_packets);
    // Hands up to one block of the chunk buffer to the processor; the bytes read.
    uint32_t FeedBlock(CTsProcessor& processor, uint8_t* block, uint32_t minimum);
    void OnDeviceData(const uint8_t* data, uint32_t length, uint64_t total);
    void OnProcessorOutput(uint32_t type, uint32_t a, const void* data, uint32_t length);
    void DispatchUiEvent(uint32_t type, const void* data, uint32_t a, uint32_t length);
    void ApplyStatus(const StatusTexts& t);
    void RelayBroadcastTime(const std::optional<MjdTime>& broadcast_now);
    void SetDeviceControlsEnabled(bool enabled);
    void SetSendEditsEnabled(bool enabled);
    // Runs fn on the UI thread later, unless the application is gone by then.
    void PostToUi(std::function<void(CaptureApp&)> fn);
    bool DeviceTakesFirmwareInit() const;
    int ReservationFilterOn(uint16_t output, uint32_t mode, const uint16_t* programs,
                            uint32_t program_count, const uint16_t* pids, uint32_t pid_count);

    const Clock& clock_;
    UiThread& ui_thread_;
    UiServices& ui_;
    TimerResolution& timer_;
    Settings settings_;
    // Read by closures posted to the UI thread: null once the application is gone.
    std::shared_ptr<CaptureApp*> alive_;

    RecursiveLock app_lock_;
    MainWindowState window_;
    std::unique_ptr<CDTV_Base> device_;
    std::unique_ptr<ChannelWindowCore> channel_;
    ServiceWindowPort default_service_;
    ReservationPort default_reservations_;
    ServiceWindowPort* service_ = &default_service_;
    ReservationPort* reservations_ = &default_reservations_;

    // Capture session.
    bool capturing_ = false;
    bool search_pending_ = false;
    std::optional<uint32_t> timer_period_;
    std::unique_ptr<Event> stop_event_;
    // Set by the device callback whenever the chunk buffer holds a whole block, and at stop:
    // the processing thread sleeps on it instead of polling the buffer every millisecond.
    Event block_ready_{false};
    std::unique_ptr<Thread> processing_thread_;
    CBufferMT chunk_buffer_{kChunkBufferLimit};
    StreamStats stats_;
    // The processor exists only while the processing thread runs; queries from other threads
    // reach it under this mutex, and the thread unpublishes it under the mutex before
    // destroying it.
    std::mutex processor_mutex_;
    CTsProcessor* processor_ = nullptr;
    std::atomic<uint16_t> reservation_output_{0};

    // Written by the device's completion thread only.
    uint32_t rate_tick_ = 0;
    uint64_t rate_total_ = 0;
    uint32_t refresh_tick_ = 0;

    // Manual recording and sending, fed by the processing thread.
    OutputSlot<Recorder> recorder_;
    OutputSlot<UdpSender> sender_;
    uint32_t auto_stop_tick_ = 0;
    FreeSpaceProbe free_space_probe_;
};

}  // namespace tavrel
