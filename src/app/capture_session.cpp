// The capture session: start and stop, the processing thread, the device and processor
// callbacks, the table-event dispatcher and the queries of the child windows.
#include <cstring>
#include <system_error>
#include <vector>

#include "app/capture_app.h"
#include "device/dtv_ezusbfx2.h"
#include "ts/broadcast_time.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr std::string_view kErrorCaption = "Error";

}  // namespace

StartError CaptureApp::StartStop() {
    ScopedLock lock(app_lock_);
    if (capturing_) {
        Stop();
        return StartError::kNone;
    }
    return Start();
}

StartError CaptureApp::Start() {
    auto stop_event = std::make_unique<Event>(true);
    bool connect_tried = false;
    std::optional<uint32_t> period;
    // Undoes whatever the start got to before it failed.
    auto fail = [&](StartError error) {
        if (connect_tried) {
            device_->Disconnect();
            channel_->Empty();
            channel_->SetCapturing(false);
            service_->ShowCaptureState(false);
        }
        if (period) {
            timer_.End(*period);
        }
        window_.connect.checked = false;
        return error;
    };

    const int index = window_.device.selected;
    if (!device_ || index < 0) {
        return fail(StartError::kNoDevice);
    }
    const bool firmware_init = window_.firmware_init.checked;
    settings_.hv_kelvra_init = firmware_init ? 1 : 0;
    const auto in = window_.endpoint_in.SelectedData();
    if (!in) {
        return fail(StartError::kNoInEndpoint);
    }
    const auto out = window_.endpoint_out.SelectedData();
    if (!out) {
        return fail(StartError::kNoOutEndpoint);
    }
    if (!device_->HasEndpoint(index, static_cast<uint16_t>(*in))) {
        ui_.ShowMessage("入力EP指定エラー", kErrorCaption, MessageButtons::kOk);
        return fail(StartError::kInEndpointMissing);
    }
    if (firmware_init && !device_->HasEndpoint(index, static_cast<uint16_t>(*out))) {
        ui_.ShowMessage("HvKelvra初期化には出力EPが必要です", kErrorCaption, MessageButtons::kOk);
        return fail(StartError::kOutEndpointMissing);
    }
    if (settings_.timer_period > 0) {
        const auto p = static_cast<uint32_t>(settings_.timer_period);
        if (!timer_.Begin(p)) {
            return fail(StartError::kTimerPeriod);
        }
        period = p;
    }
    {
        ScopedLock buffer_lock(chunk_buffer_.Lock());
        chunk_buffer_.Clear();
    }
    device_->data_callback = &CaptureApp::DeviceDataCallback;
    device_->callback_user = this;
    if (auto* fx2 = dynamic_cast<CDTV_EzUSBFX2*>(device_.get())) {
        fx2->firmware_init = firmware_init;
    }
    // The transfer threads take their priorities when Connect starts them.
    device_->submit_priority = settings_.thread_priority_rec;
    device_->completion_priority = settings_.thread_priority_res;

    // A capture never sits in the capturing state without a connected device.
    connect_tried = true;
    if (!device_->Connect(index, static_cast<uint16_t>(*in), static_cast<uint16_t>(*out))) {
        ui_.ShowMessage("デバイスに接続できませんでした", kErrorCaption, MessageButtons::kOk);
        return fail(StartError::kConnect);
    }

    const int32_t last_channel = settings_.last_channel;
    PostToUi([last_channel](CaptureApp& app) { app.channel_->Fill(last_channel); });
    channel_->SetCapturing(true);
    service_->ShowCaptureState(true);
    if ((device_->GetCapabilities() & kCapabilityChannel) != 0) {
        device_->SetChannel(last_channel);
    }

    stop_event_ = std::move(stop_event);
    try {
        processing_thread_ = std::make_unique<Thread>(
            [this, decode = settings_.decode_psi != 0, guide = settings_.proc_epg != 0,
             data = settings_.proc_data != 0, keep_null = settings_.no_reject_nullpacket != 0] {
                ProcessingThread(decode, guide, data, keep_null);
            },
            Thread::Start::kSuspended);
    } catch (const std::system_error&) {
        stop_event_.reset();
        return fail(StartError::kThreadCreation);
    }
    timer_period_ = period;
    processing_thread_->SetPriority(ThreadPriorityFromSetting(settings_.thread_priority_proc));
    processing_thread_->Resume();

    SetDeviceControlsEnabled(false);
    window_.record.enabled = true;
    window_.send.enabled = true;
    window_.connect.checked = true;
    capturing_ = true;
    return StartError::kNone;
}

void CaptureApp::Stop() {
    settings_.last_channel = device_->GetChannel();
    channel_->SetCurrentChannel(settings_.last_channel);
    PostToUi([](CaptureApp& app) { app.channel_->Empty(); });
    channel_->SetCapturing(false);
    service_->ShowCaptureState(false);

    // No data arrives after this, so what the processing thread drains is the whole stream.
    device_->Disconnect();
    stop_event_->Set();
    if (!processing_thread_->Join(kStopWait)) {
        // A thread cannot be killed safely: one that is stuck (a disk that stopped answering)
        // is waited for, since it still owns the processor and the recorder's slot.
        processing_thread_->Join(Event::kInfinite);
    }
    stats_.Zero();
    StopRecording();
    StopSending();
    PostToUi([](CaptureApp& app) { app.service_->SwitchFilterOff(); });
    if (timer_period_) {
        timer_.End(*timer_period_);
        timer_period_.reset();
    }
    processing_thread_.reset();
    stop_event_.reset();

    SetDeviceControlsEnabled(true);
    window_.record.enabled = false;
    window_.send.enabled = false;
    window_.connect.checked = false;
    capturing_ = false;
    if (search_pending_) {
        search_pending_ = false;
        SearchDevices();
    }
}

void CaptureApp::ProcessingThread(bool decode_tables, bool program_guide, bool data_broadcast,
                                  bool keep_null_packets) {
    auto processor = std::make_unique<CTsProcessor>();
    reservation_output_.store(1, std::memory_order_relaxed);
    processor->AddOutput(1);
    reservations_->Connect(this);
    service_->Connect(this, program_guide, data_broadcast);
    processor->decode_tables = decode_tables ? 1 : 0;
    processor->data_broadcast = data_broadcast ? 1 : 0;
    processor->program_guide = program_guide ? 1 : 0;
    processor->keep_null_packets = keep_null_packets ? 1 : 0;
    processor->SetOutputCallback(&CaptureApp::ProcessorOutputCallback, this);
    processor->SetCarouselCallback(&CaptureApp::ProcessorOutputCallback, this);
    {
        std::lock_guard lock(processor_mutex_);
        processor_ = processor.get();
    }

    std::vector<uint8_t> block(kBlockSize);
    while (!stop_event_->Test()) {
        while (FeedBlock(*processor, block.data(), kBlockSize) > 0) {
        }
        stop_event_->Wait(1);
    }
    // The device is disconnected before the stop: what is left is the end of the stream, also
    // when it is less than a block.
    while (FeedBlock(*processor, block.data(), 1) > 0) {
    }
    processor->Finish(stats_);

    // The ports keep nothing of this capture: an engine tick or a window command after the
    // stop (or after the application is gone) must not reach back into it.
    reservations_->Connect(nullptr);
    service_->Connect(nullptr, program_guide, data_broadcast);
    {
        std::lock_guard lock(processor_mutex_);
        processor_ = nullptr;
    }
    processor.reset();
    reservation_output_.store(0, std::memory_order_relaxed);
}

uint32_t CaptureApp::FeedBlock(CTsProcessor& processor, uint8_t* block, uint32_t minimum) {
    if (chunk_buffer_.Held() < minimum) {
        return 0;
    }
    uint32_t read = 0;
    {
        ScopedLock lock(chunk_buffer_.Lock());
        read = chunk_buffer_.Read(block, kBlockSize, true);
    }
    if (read > 0) {
        processor.Input(read, stats_, block);
    }
    return read;
}

void CaptureApp::DeviceDataCallback(const uint8_t* data, uint32_t length, uint32_t total_low,
                                    uint32_t total_high, void* user) {
    static_cast<CaptureApp*>(user)->OnDeviceData(data, length,
                                                 uint64_t{total_high} << 32 | total_low);
}

void CaptureApp::OnDeviceData(const uint8_t* data, uint32_t length, uint64_t total) {
    if (length != 0) {
        uint32_t taken = 0;
        {
            ScopedLock lock(chunk_buffer_.Lock());
            taken = chunk_buffer_.Write(data, length);
        }
        if (taken < length) {
            // The processing thread fell behind by 10 MiB: start over rather than splice the
            // stream at an arbitrary byte.
            Increment(stats_.overflow_resets);
            ScopedLock lock(chunk_buffer_.Lock());
            chunk_buffer_.Clear();
        }
    }

    const uint32_t now = clock_.TickCount();
    const uint32_t elapsed = now - rate_tick_;
    if (elapsed > kRateInterval) {
        const double rate = total < rate_total_ ? 0.0
                                                : static_cast<double>(total - rate_total_) *
                                                      (1000.0 / static_cast<double>(elapsed));
        stats_.rate.store(rate, std::memory_order_relaxed);
        rate_tick_ = now;
        rate_total_ = total;
    }
    if (now - refresh_tick_ > kRefreshInterval) {
        refresh_tick_ = now;
        PostToUi([](CaptureApp& app) { app.RunStatusDisplay(); });
    }
}

void CaptureApp::ProcessorOutputCallback(uint32_t type, uint32_t a, const void* data,
                                         uint32_t length, void* user) {
    static_cast<CaptureApp*>(user)->OnProcessorOutput(type, a, data, length);
}

void CaptureApp::OnProcessorOutput(uint32_t type, uint32_t a, const void* data, uint32_t length) {
    if (type == kEventPacket) {
        const std::span<const uint8_t> unit(static_cast<const uint8_t*>(data), length);
        if (a == 0) {
            recorder_.Use([&](Recorder& r) { r.Write(unit); });
            sender_.Use([&](UdpSender& s) { s.Send(unit); });
        } else if (a == reservation_output_.load(std::memory_order_relaxed)) {
            reservations_->WriteReservationData(unit);
        }
        return;
    }
    switch (type) {
        case kEventStream:
        case kEventPrograms:
        case kEventStreams:
        case kEventNetwork:
        case kEventTransportStream:
        case kEventTime:
        case kEventServiceName:
        case kEventPresentFollowing:
        case kEventSchedule:
            DispatchUiEvent(type, data, a, length);
            break;
        default:
            break;  // data-carousel notifications and the like
    }
}

void CaptureApp::DispatchUiEvent(uint32_t type, const void* data, uint32_t a, uint32_t length) {
    switch (type) {
        case kEventStream:
            service_->OnNewStream(length);
            reservations_->ClearServicePids(a);
            break;
        case kEventPrograms: {
            const auto* programs = static_cast<const ProgramEntry*>(data);
            for (uint32_t i = 0; i < length; ++i) {
                service_->OnProgram(programs[i]);
            }
            break;
        }
        case kEventStreams: {
            // Copies without the byte the processor leaves unset, so no consumer reads it.
            std::vector<StreamEntry> streams(length);
            const auto* raw = static_cast<const uint8_t*>(data);
            for (uint32_t i = 0; i < length; ++i) {
                streams[i].stream_type = raw[i * 4];
                streams[i].unused = 0;
                std::memcpy(&streams[i].elementary_pid, raw + i * 4 + 2, 2);
            }
            const auto program = static_cast<uint16_t>(a);
            service_->OnStreams(program, streams);
            reservations_->UpdateServicePids(program, streams);
            break;
        }
        case kEventTime: {
            const auto* time = static_cast<const BroadcastTime*>(data);
            stats_.time_seconds.store(time->seconds, std::memory_order_relaxed);
            stats_.time_tick.store(clock_.TickCount(), std::memory_order_relaxed);
            stats_.time_date.store(time->mjd, std::memory_order_relaxed);
            break;
        }
        case kEventServiceName:
            service_->OnServiceName(static_cast<uint16_t>(a), static_cast<const char*>(data));
            break;
        case kEventPresentFollowing:
        case kEventSchedule:
            service_->OnEvent(*static_cast<const EventRecord*>(data), static_cast<uint16_t>(a),
                              length);
            break;
        default:
            break;  // networks (18, 19) are not shown anywhere
    }
}

int CaptureApp::ServiceName(uint16_t service_id, char* destination, uint32_t size) {
    std::lock_guard lock(processor_mutex_);
    return processor_ ? processor_->ServiceName(service_id, destination, size) : 0;
}

int CaptureApp::SetServiceFilter(const uint16_t* programs, uint32_t program_count,
                                 const uint16_t* pids, uint32_t pid_count) {
    return ReservationFilterOn(0, 1, programs, program_count, pids, pid_count);
}

int CaptureApp::ReservationFilter(uint32_t mode, const uint16_t* programs, uint32_t program_count,
                                  const uint16_t* pids, uint32_t pid_count) {
    return ReservationFilterOn(1, mode, programs, program_count, pids, pid_count);
}

int CaptureApp::ReservationFilterOn(uint16_t output, uint32_t mode, const uint16_t* programs,
                                    uint32_t program_count, const uint16_t* pids,
                                    uint32_t pid_count) {
    std::lock_guard lock(processor_mutex_);
    if (processor_ == nullptr) {
        return 0;
    }
    if (programs == nullptr && pids == nullptr) {
        processor_->ClearOutputFilter(output);
    } else {
        processor_->SetOutputFilter(output, mode, programs, programs ? program_count : 0, pids,
                                    pids ? pid_count : 0);
    }
    return 1;
}

int CaptureApp::WriteDataBroadcast(const std::string& folder, uint16_t pid) {
    std::lock_guard lock(processor_mutex_);
    return processor_ ? processor_->CarouselStore().WriteResources(folder, pid) : 0;
}

int CaptureApp::EventById(uint16_t service_id, uint16_t event_id, EventRecord& out) {
    std::lock_guard lock(processor_mutex_);
    if (processor_ == nullptr) {
        return 0;
    }
    const auto event = processor_->EventStore().EventById(service_id, event_id);
    if (!event) {
        return 0;
    }
    out = *event;
    return 1;
}

int CaptureApp::EventOnAir(uint16_t service_id, MjdTime at, EventRecord& out) {
    std::lock_guard lock(processor_mutex_);
    if (processor_ == nullptr) {
        return 0;
    }
    const auto event = processor_->EventStore().EventAt(service_id, at);
    if (!event) {
        return 0;
    }
    out = *event;
    return 1;
}

void CaptureApp::PostToUi(std::function<void(CaptureApp&)> fn) {
    ui_thread_.Post([alive = alive_, fn = std::move(fn)] {
        if (CaptureApp* app = *alive) {
            fn(*app);
        }
    });
}

}  // namespace tavrel
