// Manual recording and UDP sending: the record, "+10分" and send buttons, "クリア", and the
// status display with the checks it makes on the running recording.
#include <algorithm>

#include "app/capture_app.h"
#include "capture/record_paths.h"
#include "platform/file.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr std::string_view kCaption = "tavrel";
constexpr uint32_t kTenMinutes = 600000;
// A stop timer is compared by the signed difference of wrapping ticks, so it must lie less
// than 2^31 ms (about 24 days) ahead.
constexpr int32_t kMaxStopMinutes = 35791;

uint32_t NonZeroTick(uint32_t tick) {
    return tick == 0 ? 1 : tick;  // 0 means "no stop timer"
}

}  // namespace

void CaptureApp::ToggleRecording() {
    ScopedLock lock(app_lock_);
    if (recorder_.Peek() != nullptr) {
        StopRecording();
    } else {
        StartRecording();
    }
}

bool CaptureApp::StartRecording() {
    ScopedLock lock(app_lock_);
    if (recorder_.Peek() != nullptr) {
        return false;
    }
    auto recorder = std::make_unique<Recorder>(clock_);
    std::optional<std::string> path;
    if (settings_.rec_autofilename != 0) {
        if (PathExists(settings_.rec_autopath)) {
            path = AutomaticRecordingPath(settings_.rec_autopath, clock_.Now());
        } else {
            ui_.ShowMessage("", kCaption, MessageButtons::kOk);
        }
    } else {
        SaveFileRequest request;
        request.filter_name = "TS Stream";
        request.filter_pattern = "*.ts";
        request.default_extension = "ts";
        path = ui_.PickSaveFile(request);
    }
    if (!path || !recorder->Open(*path)) {
        ui_.ShowMessage("開始に失敗しました", kCaption, MessageButtons::kOk);
        recorder.reset();
        window_.stop_timer.enabled = true;
        window_.record.checked = false;
        auto_stop_tick_ = 0;
        return false;
    }

    const int32_t minutes = std::min(Atoi(window_.stop_timer.text), kMaxStopMinutes);
    settings_.rec_time = minutes;
    window_.stop_timer.enabled = false;
    window_.record.checked = true;
    window_.record.text = "録画停止";
    auto_stop_tick_ =
        minutes < 1 ? 0 : NonZeroTick(clock_.TickCount() + static_cast<uint32_t>(minutes) * 60000u);
    recorder_.Install(std::move(recorder));
    return true;
}

void CaptureApp::StopRecording() {
    ScopedLock lock(app_lock_);
    window_.stop_timer.enabled = true;
    window_.record.checked = false;
    window_.record.text = "録画開始";
    auto_stop_tick_ = 0;
    // Out of the processing thread's reach from here on; the last flush happens without the
    // slot's lock.
    if (std::unique_ptr<Recorder> recorder = recorder_.Remove()) {
        recorder->Close();
    }
    RunStatusDisplay();
}

void CaptureApp::AddTenMinutes() {
    ScopedLock lock(app_lock_);
    const Recorder* recorder = recorder_.Peek();
    if (recorder != nullptr && recorder->IsOpen()) {
        if (auto_stop_tick_ != 0) {
            auto_stop_tick_ = NonZeroTick(auto_stop_tick_ + kTenMinutes);
        }
        return;
    }
    window_.stop_timer.text = std::to_string(Atoi(window_.stop_timer.text) + 10);
}

void CaptureApp::ToggleSending() {
    ScopedLock lock(app_lock_);
    if (sender_.Peek() != nullptr) {
        StopSending();
    } else {
        StartSending();
    }
}

bool CaptureApp::StartSending() {
    ScopedLock lock(app_lock_);
    if (sender_.Peek() != nullptr) {
        return false;
    }
    settings_.network_address = window_.address.text.substr(0, 260);
    const uint32_t port = ParseUnsignedEdit(window_.port.text).value_or(0);
    const uint32_t size = ParseUnsignedEdit(window_.packet_size.text).value_or(0);
    settings_.network_port = static_cast<int32_t>(std::min<uint32_t>(port, INT32_MAX));
    settings_.network_send_size = static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX));

    std::unique_ptr<UdpSender> sender;
    // A port or datagram size no socket can use fails like a name that does not resolve.
    if (port <= 0xFFFF && size <= kMaxUdpPayload) {
        sender = std::make_unique<UdpSender>(size, clock_);
        if (!sender->Open(settings_.network_address, static_cast<uint16_t>(port))) {
            sender.reset();
        }
    }
    if (!sender) {
        ui_.ShowMessage("開始に失敗しました", kCaption, MessageButtons::kOk);
        window_.send.checked = false;
        return false;
    }
    window_.send.checked = true;
    window_.send.text = "送信停止";
    SetSendEditsEnabled(false);
    sender_.Install(std::move(sender));
    return true;
}

void CaptureApp::StopSending() {
    ScopedLock lock(app_lock_);
    window_.send.checked = false;
    window_.send.text = "送信開始";
    SetSendEditsEnabled(true);
    sender_.Remove();  // bytes still buffered are dropped with it
}

void CaptureApp::SetSendEditsEnabled(bool enabled) {
    window_.address.enabled = window_.port.enabled = window_.packet_size.enabled = enabled;
}

void CaptureApp::Clear() {
    for (auto* counter : {&stats_.sync_errors, &stats_.discontinuities, &stats_.scrambled,
                          &stats_.overflow_resets, &stats_.counter_sy, &stats_.counter_st}) {
        counter->store(0, std::memory_order_relaxed);
    }
    if (device_) {
        device_->ResetStatistics();
    }
}

StatusSnapshot CaptureApp::TakeSnapshot() const {
    StatusSnapshot s;
    s.now_tick = clock_.TickCount();
    if (device_) {
        s.device_start_tick = device_->start_tick.load(std::memory_order_relaxed);
        s.success_count = device_->success_count.load(std::memory_order_relaxed);
        s.failure_count = device_->failure_count.load(std::memory_order_relaxed);
        char status[128];
        s.device_status = device_->GetStatusText(status, sizeof status);
    } else {
        s.device_start_tick = s.now_tick;
    }
    s.rate = stats_.rate.load(std::memory_order_relaxed);
    s.packet_length = stats_.packet_length.load(std::memory_order_relaxed);
    s.sync_errors = stats_.sync_errors.load(std::memory_order_relaxed);
    s.discontinuities = stats_.discontinuities.load(std::memory_order_relaxed);
    s.scrambled = stats_.scrambled.load(std::memory_order_relaxed);
    // The date last: it says whether the other two are valid.
    s.time_date = stats_.time_date.load(std::memory_order_relaxed);
    s.time_seconds = stats_.time_seconds.load(std::memory_order_relaxed);
    s.time_tick = stats_.time_tick.load(std::memory_order_relaxed);
    s.overflow_resets = stats_.overflow_resets.load(std::memory_order_relaxed);
    s.counter_sy = stats_.counter_sy.load(std::memory_order_relaxed);
    s.counter_st = stats_.counter_st.load(std::memory_order_relaxed);
    s.buffer_held = chunk_buffer_.Held();
    s.buffer_limit = chunk_buffer_.Limit();

    if (const Recorder* r = recorder_.Peek()) {
        s.recorder = true;
        s.recorder_open = r->IsOpen();
        s.bytes_written = r->BytesWritten();
        if (s.recorder_open) {
            s.free_space = free_space_probe_ ? free_space_probe_(*r) : r->GetRecorderFreeSpace();
        }
        s.recording_start_tick = r->StartTick();
        s.auto_stop_tick = auto_stop_tick_;
    }
    if (const UdpSender* u = sender_.Peek()) {
        s.sender = true;
        s.bytes_sent = u->BytesSent();
        if (u->IsOpen()) {
            s.destination = u->Destination().address;
        }
    }
    return s;
}

void CaptureApp::RunStatusDisplay() {
    ScopedLock lock(app_lock_);
    const StatusTexts t = FormatStatus(TakeSnapshot());
    ApplyStatus(t);
    if (t.stop_for_free_space) {
        StopRecording();  // shows the stopped state itself
        ui_.ShowMessage("録画先ディスク容量が少ないので録画停止しました。", "ERROR",
                        MessageButtons::kOk);
        return;
    }
    if (t.stop_for_timer) {
        StopRecording();
        window_.status_bar[0] = t.status_bar[0];
        window_.status_bar[1] = t.status_bar[1];
        return;
    }
    RelayBroadcastTime(t.broadcast_now);
}

void CaptureApp::ApplyStatus(const StatusTexts& t) {
    window_.time.text = t.time;
    window_.success.text = t.success;
    window_.failure.text = t.failure;
    window_.rate.text = t.rate;
    window_.device_status.text = t.device_status;
    window_.buffer.text = t.buffer;
    window_.packet_length.text = t.packet_length;
    window_.sync_errors.text = t.sync_errors;
    window_.discontinuities.text = t.discontinuities;
    window_.scrambled.text = t.scrambled;
    window_.broadcast_time.text = t.broadcast_time;
    window_.recording.text = t.recording;
    window_.free_space.text = t.free_space;
    window_.status_bar[0] = t.status_bar[0];
    window_.status_bar[1] = t.status_bar[1];
    window_.udp.text = t.udp;
}

void CaptureApp::RelayBroadcastTime(const std::optional<MjdTime>& broadcast_now) {
    std::string reservation_status;
    bool processor_exists = false;
    {
        std::lock_guard lock(processor_mutex_);
        processor_exists = processor_ != nullptr;
    }
    if (processor_exists) {
        if (broadcast_now) {
            service_->SetBroadcastTime(*broadcast_now);
        }
        const std::optional<MjdTime> clock = settings_.schedule_use_system_time != 0
                                                 ? std::optional(NowLocal(clock_))
                                                 : broadcast_now;
        reservation_status = reservations_->Tick(clock);
        // Before the first time event nothing has ended: time 0 removes nothing.
        std::lock_guard lock(processor_mutex_);
        if (processor_ != nullptr) {
            processor_->EventStore().PurgeEnded(broadcast_now.value_or(MjdTime{}),
                                                CEventStore::kAllServices);
        }
    }
    window_.status_bar[2] = reservation_status.empty() ? kNoStatusText : reservation_status;
}

}  // namespace tavrel
