#include "device/dtv_ezusbfx2.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/firmware_init.h"
#include "platform/sleep.h"

namespace tavrel {
namespace {

// With all reads in flight the submit thread looks again at least this often.
constexpr uint32_t kIdleWaitMs = 100;
// Each transfer thread handles at most one read per this period. The threads sleep only when
// the period has not passed yet: a thread that already blocked for a slot or a completion
// would otherwise wake once more per read for nothing.
constexpr auto kPassPeriod = std::chrono::milliseconds(1);

// Sleeps for one period unless one has passed since `last`.
void Pace(std::chrono::steady_clock::time_point last) {
    if (std::chrono::steady_clock::now() - last < kPassPeriod) {
        Sleep(1);
    }
}

}  // namespace

CDTV_EzUSBFX2::CDTV_EzUSBFX2(UsbDriver& driver, const Clock& clock)
    : CDTV_Base(clock), driver_(driver) {}

CDTV_EzUSBFX2::~CDTV_EzUSBFX2() {
    Close();
}

bool CDTV_EzUSBFX2::Open(const char* /*name*/, DeviceNotificationRecipient* recipient,
                         const char* interface_class) {
    if (IsOpen()) {
        return false;
    }
    usb_ = std::make_unique<UsbDevice>(
        driver_, recipient, interface_class != nullptr ? interface_class : kFx2InterfaceClass,
        true);
    return true;
}

void CDTV_EzUSBFX2::Close() {
    Disconnect();
    usb_.reset();
}

int CDTV_EzUSBFX2::GetDeviceCount() {
    return usb_ ? usb_->DeviceCount() : 0;
}

// The list queries open and close the device each time; while streaming that would pull the
// endpoints from under the transfer threads, so they refuse instead.
bool CDTV_EzUSBFX2::GetDeviceName(int index, char* buffer, size_t size) {
    if (!usb_ || IsConnected() || size == 0 || !usb_->Open(index)) {
        return false;
    }
    const std::string name = usb_->device_name.empty() ? "?" : usb_->device_name;
    const size_t n = std::min(name.size(), size - 1);
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    usb_->Close();
    return true;
}

int CDTV_EzUSBFX2::GetEndpointCount(int index) {
    if (!usb_ || IsConnected() || !usb_->Open(index)) {
        return 0;
    }
    const int count = usb_->EndpointCount();
    usb_->Close();
    return count;
}

bool CDTV_EzUSBFX2::GetEndpointInfo(int index, int endpoint_index, EndpointInfo& info) {
    if (!usb_ || IsConnected() || !usb_->Open(index)) {
        return false;
    }
    const UsbEndpoint* ep = usb_->EndpointAt(endpoint_index);
    if (ep != nullptr) {
        info.length = ep->descriptor_length;
        info.descriptor_type = ep->descriptor_type;
        info.address = ep->address;
        info.attributes = ep->attributes;
        info.max_packet_size = ep->max_packet_size;
        info.transactions_per_microframe = ep->transactions;
        info.interval = ep->interval;
        info.timeout_ms = ep->timeout_ms;
        info.usb_status = ep->last_usb_status.load(std::memory_order_relaxed);
        info.driver_status = ep->last_driver_status.load(std::memory_order_relaxed);
    }
    usb_->Close();
    return ep != nullptr;
}

bool CDTV_EzUSBFX2::HasEndpoint(int index, uint16_t address) {
    const int count = GetEndpointCount(index);
    for (int i = 0; i < count; ++i) {
        EndpointInfo info;
        if (GetEndpointInfo(index, i, info) && info.address == address) {
            return true;
        }
    }
    return false;
}

bool CDTV_EzUSBFX2::Connect(int index, uint16_t in_address, uint16_t out_address) {
    if (!IsOpen() || IsConnected()) {
        return false;
    }
    int in_index = -1;
    int out_index = -1;
    const int count = GetEndpointCount(index);
    for (int i = 0; i < count; ++i) {
        EndpointInfo info;
        if (GetEndpointInfo(index, i, info)) {
            if (info.address == in_address) {
                in_index = i;
            }
            if (info.address == out_address) {
                out_index = i;
            }
        }
    }
    if (!usb_->Open(index)) {
        return false;
    }
    in_ = usb_->EndpointAt(in_index);
    out_ = usb_->EndpointAt(out_index);
    // Reads need an IN endpoint that is not endpoint 0; without one there is nothing to stream.
    if (in_ == nullptr || !in_->in || in_->Kind() == EndpointKind::kControl) {
        in_ = out_ = nullptr;
        usb_->Close();
        return false;
    }
    if (out_ != nullptr && (out_->in || out_->Kind() == EndpointKind::kControl)) {
        out_ = nullptr;
    }

    slots_.clear();
    free_.clear();
    pending_.clear();
    for (int i = 0; i < kSlotCount; ++i) {
        slots_.push_back(std::make_unique<TransferSlot>());
        free_.push_back(slots_.back().get());
    }
    ResetStatistics();

    stop_ = std::make_unique<Event>(true);
    submit_thread_ =
        std::make_unique<Thread>([this] { SubmitLoop(); }, Thread::Start::kSuspended, "fx2-submit");
    completion_thread_ = std::make_unique<Thread>([this] { CompletionLoop(); },
                                                  Thread::Start::kSuspended, "fx2-completion");
    submit_thread_->SetPriority(ThreadPriorityFromSetting(submit_priority));
    completion_thread_->SetPriority(ThreadPriorityFromSetting(completion_priority));
    connected_.store(true, std::memory_order_release);
    submit_thread_->Resume();
    completion_thread_->Resume();
    return true;
}

bool CDTV_EzUSBFX2::Disconnect() {
    if (!IsConnected()) {
        return false;
    }
    stop_->Set();
    slot_freed_.Set();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    const auto left = [&] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<uint32_t>(std::max<int64_t>(0, ms.count()));
    };
    const bool ended = submit_thread_->Join(left()) && completion_thread_->Join(left());
    if (!ended) {
        // A thread cannot be killed safely; cancel whatever it waits for and let it end.
        in_->AbortPipe();
        if (out_ != nullptr) {
            out_->AbortPipe();
        }
        submit_thread_->Join(Event::kInfinite);
        completion_thread_->Join(Event::kInfinite);
    }
    submit_thread_.reset();
    completion_thread_.reset();
    in_ = out_ = nullptr;
    usb_->Close();  // completes whatever the driver still held
    FreeSlots();
    stop_.reset();
    connected_.store(false, std::memory_order_release);
    return true;
}

void CDTV_EzUSBFX2::FreeSlots() {
    free_.clear();
    pending_.clear();
    for (auto& slot : slots_) {
        // Only a read the driver took can still be written to. One whose begin failed (as
        // every begin does once the tuner is unplugged) never signals its completion: waiting
        // for it would only leak a slot that nothing holds.
        const bool held =
            slot->overlapped && slot->context && slot->context->begin_error == kErrorIoPending;
        if (held && !slot->overlapped->Wait(1000)) {
            // The driver never let go of this read: leaking its buffer is safer than freeing
            // memory that may still be written.
            static_cast<void>(slot.release());
        }
    }
    slots_.clear();
}

TransferSlot* CDTV_EzUSBFX2::TakeFront(std::deque<TransferSlot*>& list) {
    std::lock_guard lock(list_lock_);
    if (list.empty()) {
        return nullptr;
    }
    TransferSlot* slot = list.front();
    list.pop_front();
    return slot;
}

void CDTV_EzUSBFX2::Append(std::deque<TransferSlot*>& list, TransferSlot* slot) {
    std::lock_guard lock(list_lock_);
    list.push_back(slot);
}

int CDTV_EzUSBFX2::SubmitLoop() {
    if (firmware_init && out_ != nullptr) {
        for (const auto& step : kFirmwareInitSequence) {
            std::array<uint8_t, 2> bytes = step.bytes;
            uint32_t length = step.length;
            out_->TransferSync(bytes, length);  // the reads are queued whatever the result
        }
    }
    in_->SetTransferSize(TransferSlot::kBufferSize);
    std::chrono::steady_clock::time_point last_queued{};
    while (!stop_->Test()) {
        TransferSlot* slot = TakeFront(free_);
        if (slot == nullptr) {
            slot_freed_.Wait(kIdleWaitMs);
            continue;
        }
        Pace(last_queued);
        slot->overlapped = std::make_unique<Overlapped>();
        slot->endpoint = in_;
        slot->length = TransferSlot::kBufferSize;
        slot->context = in_->BeginTransfer(slot->buffer, *slot->overlapped);
        Append(pending_, slot);
        last_queued = std::chrono::steady_clock::now();
    }
    in_->AbortPipe();
    if (out_ != nullptr) {
        out_->AbortPipe();
    }
    return 1;
}

bool CDTV_EzUSBFX2::Collect(TransferSlot& slot, bool waited) {
    UsbEndpoint& ep = *slot.endpoint;
    if (!waited && slot.context->begin_error == kErrorIoPending) {
        // Timed out while the driver still owns the buffer: cancel the read and wait until the
        // driver has let go before the slot can be queued again or handed to the callback.
        ep.AbortPipe();
        if (!slot.overlapped->Wait(kStopWaitMs)) {
            return false;  // still held: the caller keeps the slot out of circulation
        }
    }
    uint32_t length = 0;
    const bool ok =
        ep.FinishTransfer(slot.buffer, length, *slot.overlapped, std::move(slot.context));
    slot.length = length;
    return waited && ok;
}

int CDTV_EzUSBFX2::CompletionLoop() {
    std::chrono::steady_clock::time_point last_collected{};
    for (;;) {
        TransferSlot* slot = TakeFront(pending_);
        if (slot == nullptr) {
            if (stop_->Test()) {
                break;
            }
            Sleep(1);
            continue;
        }
        const bool waited =
            slot->endpoint->WaitTransfer(*slot->context, *slot->overlapped, transfer_wait_ms);
        Pace(last_collected);
        if (Collect(*slot, waited)) {
            if (slot->length > 0) {
                const uint64_t total =
                    total_bytes.fetch_add(slot->length, std::memory_order_relaxed) + slot->length;
                if (data_callback != nullptr) {
                    data_callback(slot->buffer.data(), slot->length, static_cast<uint32_t>(total),
                                  static_cast<uint32_t>(total >> 32), callback_user);
                }
            }
            success_count.fetch_add(1, std::memory_order_relaxed);
        } else {
            failure_count.fetch_add(1, std::memory_order_relaxed);
        }
        if (slot->context == nullptr) {
            slot->overlapped.reset();
            Append(free_, slot);
            slot_freed_.Set();
        }
        last_collected = std::chrono::steady_clock::now();
    }
    return 1;
}

}  // namespace tavrel
