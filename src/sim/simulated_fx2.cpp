#include "sim/simulated_fx2.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "device/driver_requests.h"
#include "sim/usb_descriptors.h"
#include "ts/byte_reader.h"
#include "ts/byte_writer.h"
#include "ts/crc32.h"

namespace tavrel::sim {

namespace {

constexpr size_t kLogLimit = 65536;
constexpr uint32_t kPartialAfterMs = 100;  // a paced read returns what it has after this long
constexpr size_t kSourceChunk = 256 * 1024;
constexpr uint32_t kIdleWaitMs = 50;  // looks again this often with reads that cannot progress
constexpr const char* kPathPrefix = "\\\\?\\sim-fx2#";

}  // namespace

// The IN data: the multiplex generator or the file, handed out on demand.
class SimulatedFx2::Source {
public:
    explicit Source(const SimStream& stream) : stream_(stream) {
        if (!stream_.ts_file.empty()) {
            file_.open(stream_.ts_file, std::ios::binary);
            if (!file_) {
                throw std::runtime_error("cannot open the stream file " + stream_.ts_file);
            }
            byte_rate_ = static_cast<double>(stream_.file_bitrate) / 8.0;
        } else {
            MultiplexConfig config = stream_.multiplex;
            config.chunk_bytes = kSourceChunk;
            stream_.multiplex = config;
            generator_ = std::make_unique<MultiplexGenerator>(config);
            byte_rate_ = static_cast<double>(config.bitrate) / 8.0 * config.packet_size / 188.0;
        }
    }

    double ByteRate() const { return byte_rate_; }
    bool Ended() const { return ended_; }

    // Copies up to out.size() bytes of the stream; fewer only at the end of a single pass.
    size_t Take(std::span<uint8_t> out) {
        size_t done = 0;
        while (done < out.size() && !ended_) {
            if (pos_ == chunk_.size() && !Refill()) {
                break;
            }
            const size_t n = std::min(out.size() - done, chunk_.size() - pos_);
            std::memcpy(out.data() + done, chunk_.data() + pos_, n);
            pos_ += n;
            done += n;
        }
        return done;
    }

private:
    bool Refill() {
        pos_ = 0;
        chunk_.clear();
        for (int attempt = 0; attempt < 2 && chunk_.empty(); ++attempt) {
            if (generator_) {
                if (!generator_->Next(chunk_) && stream_.loop && attempt == 0) {
                    generator_ = std::make_unique<MultiplexGenerator>(stream_.multiplex);
                }
            } else {
                chunk_.resize(kSourceChunk);
                file_.read(reinterpret_cast<char*>(chunk_.data()),
                           static_cast<std::streamsize>(chunk_.size()));
                chunk_.resize(static_cast<size_t>(file_.gcount()));
                if (chunk_.empty() && stream_.loop && attempt == 0) {
                    file_.clear();
                    file_.seekg(0);
                }
            }
            if (!stream_.loop) {
                break;
            }
        }
        ended_ = chunk_.empty();
        return !ended_;
    }

    SimStream stream_;
    std::unique_ptr<MultiplexGenerator> generator_;
    std::ifstream file_;
    double byte_rate_ = 0;
    std::vector<uint8_t> chunk_;
    size_t pos_ = 0;
    bool ended_ = false;
};

struct SimulatedFx2::Device {
    SimBoard board;
    bool present = true;
    std::unique_ptr<Source> source;
    bool pacing_started = false;
    uint32_t pacing_start = 0;
    uint64_t paced_bytes = 0;  // delivered since pacing_start
};

class SimulatedFx2::Handle final : public UsbDriverHandle {
public:
    Handle(SimulatedFx2& sim, uint64_t id, int device) : sim_(sim), id_(id), device_(device) {}
    ~Handle() override { Close(); }

    bool Request(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                 uint32_t& returned) override {
        return sim_.HandleRequest(id_, device_, code, in, out, returned);
    }
    uint32_t Begin(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                   Overlapped& overlapped) override {
        return sim_.HandleBegin(id_, device_, code, in, out, overlapped);
    }
    bool Close() override {
        if (closed_) {
            return false;
        }
        closed_ = true;
        sim_.CloseHandle(id_);
        return true;
    }
    int Device() const { return device_; }

private:
    SimulatedFx2& sim_;
    const uint64_t id_;
    const int device_;
    bool closed_ = false;
};

SimulatedFx2::SimulatedFx2(SimulatedFx2Config config, const Clock& clock)
    : config_(std::move(config)), clock_(clock), faults_(config_.faults) {
    for (const auto& board : config_.boards) {
        devices_.push_back(std::make_unique<Device>());
        devices_.back()->board = board;
        // Made here so that a missing stream file is the caller's error, not the thread's.
        devices_.back()->source = std::make_unique<Source>(config_.stream);
    }
    thread_ = std::make_unique<Thread>([this] { Serve(); }, Thread::Start::kRunning, "sim-fx2");
}

SimulatedFx2::~SimulatedFx2() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& read : reads_) {
            read.overlapped->Complete(0, false);
        }
        reads_.clear();
    }
    wake_.notify_all();
    thread_.reset();
}

int SimulatedFx2::InterfaceCount(const std::string& interface_class) {
    std::lock_guard lock(mutex_);
    if (interface_class != config_.interface_class) {
        return 0;
    }
    return static_cast<int>(
        std::count_if(devices_.begin(), devices_.end(), [](const auto& d) { return d->present; }));
}

std::optional<std::string> SimulatedFx2::InterfacePath(const std::string& interface_class,
                                                       int index) {
    std::lock_guard lock(mutex_);
    if (interface_class != config_.interface_class) {
        return std::nullopt;
    }
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->present && index-- == 0) {
            return kPathPrefix + std::to_string(i);
        }
    }
    return std::nullopt;
}

std::unique_ptr<UsbDriverHandle> SimulatedFx2::OpenPath(const std::string& path) {
    const std::string prefix = kPathPrefix;
    if (path.rfind(prefix, 0) != 0) {
        return nullptr;
    }
    const int device = std::atoi(path.c_str() + prefix.size());
    std::lock_guard lock(mutex_);
    if (device < 0 || static_cast<size_t>(device) >= devices_.size() ||
        !devices_[static_cast<size_t>(device)]->present) {
        return nullptr;
    }
    const uint64_t id = next_handle_++;
    open_handles_.push_back(id);
    devices_[static_cast<size_t>(device)]->pacing_started = false;
    return std::make_unique<Handle>(*this, id, device);
}

NotificationId SimulatedFx2::RegisterClassNotification(const std::string& interface_class,
                                                       DeviceNotificationRecipient* recipient) {
    std::lock_guard lock(mutex_);
    if (recipient == nullptr || interface_class != config_.interface_class) {
        return 0;
    }
    registrations_[next_registration_] = {recipient, -1};
    return next_registration_++;
}

NotificationId SimulatedFx2::RegisterHandleNotification(UsbDriverHandle& handle,
                                                        DeviceNotificationRecipient* recipient) {
    auto* ours = dynamic_cast<Handle*>(&handle);
    std::lock_guard lock(mutex_);
    if (ours == nullptr || recipient == nullptr) {
        return 0;
    }
    registrations_[next_registration_] = {recipient, ours->Device()};
    return next_registration_++;
}

bool SimulatedFx2::Unregister(NotificationId id) {
    std::lock_guard lock(mutex_);
    return registrations_.erase(id) == 1;
}

void SimulatedFx2::Unplug(int device) {
    std::vector<DeviceNotificationRecipient*> recipients;
    {
        std::lock_guard lock(mutex_);
        devices_.at(static_cast<size_t>(device))->present = false;
        FailReads([device](const Read& r) { return r.device == device; });
        for (const auto& [id, reg] : registrations_) {
            if (reg.device == -1 || reg.device == device) {
                recipients.push_back(reg.recipient);
            }
        }
    }
    for (auto* r : recipients) {
        r->OnDeviceChange(false);
    }
}

void SimulatedFx2::Plug(int device) {
    std::vector<DeviceNotificationRecipient*> recipients;
    {
        std::lock_guard lock(mutex_);
        devices_.at(static_cast<size_t>(device))->present = true;
        for (const auto& [id, reg] : registrations_) {
            if (reg.device == -1) {
                recipients.push_back(reg.recipient);
            }
        }
    }
    for (auto* r : recipients) {
        r->OnDeviceChange(true);
    }
}

void SimulatedFx2::SetFaults(const SimFaults& faults) {
    {
        std::lock_guard lock(mutex_);
        faults_ = faults;
    }
    wake_.notify_all();
}

std::vector<LoggedRequest> SimulatedFx2::Requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

uint64_t SimulatedFx2::BytesStreamed() const {
    std::lock_guard lock(mutex_);
    return bytes_streamed_;
}

uint32_t SimulatedFx2::StreamCrc() const {
    std::lock_guard lock(mutex_);
    return stream_crc_;
}

uint64_t SimulatedFx2::ReadsCompleted() const {
    std::lock_guard lock(mutex_);
    return reads_completed_;
}

uint64_t SimulatedFx2::OverlappingReads() const {
    std::lock_guard lock(mutex_);
    return overlapping_reads_;
}

void SimulatedFx2::Log(LoggedRequest request) {
    if (log_.size() < kLogLimit) {
        log_.push_back(std::move(request));
    }
}

bool SimulatedFx2::Usable(uint64_t handle, int device) const {
    return devices_[static_cast<size_t>(device)]->present &&
           std::find(open_handles_.begin(), open_handles_.end(), handle) != open_handles_.end();
}

void SimulatedFx2::FailReads(const std::function<bool(const Read&)>& which) {
    for (auto it = reads_.begin(); it != reads_.end();) {
        if (which(*it)) {
            it->overlapped->Complete(0, false);
            it = reads_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimulatedFx2::CloseHandle(uint64_t handle) {
    std::lock_guard lock(mutex_);
    FailReads([handle](const Read& r) { return r.handle == handle; });
    std::erase(open_handles_, handle);
}

uint32_t SimulatedFx2::Control(const Device& dev, std::span<const uint8_t> in,
                               std::span<uint8_t> out) {
    const auto header = ReadSingleTransfer(in);
    if (!header || out.size() < SingleTransfer::kSize) {
        return 0;
    }
    std::vector<uint8_t> answer;
    const uint8_t kind = static_cast<uint8_t>(header->value >> 8);
    const uint8_t index = static_cast<uint8_t>(header->value);
    const SimBoard& b = dev.board;
    if (header->request_type == 0x80 && header->request == 6) {
        if (kind == 1) {
            answer = DeviceDescriptor(b);
        } else if (kind == 2 && index == 0) {
            answer = ConfigurationDescriptor(b);
        } else if (kind == 3 && index == 0) {
            answer = {4, 3, 0x09, 0x04};
        } else if (kind == 3 && header->index == 0x0409 && index >= 1 && index <= 3) {
            const std::string* texts[] = {&b.manufacturer, &b.product, &b.serial};
            answer = Utf16Descriptor(*texts[index - 1]);
        }
    }
    SingleTransfer reply = *header;
    if (answer.empty()) {
        reply.usb_status = 0xC0000004;  // stall
    }
    const size_t n = std::min(
        {answer.size(), static_cast<size_t>(header->length), out.size() - SingleTransfer::kSize});
    WriteSingleTransfer(out, reply);
    std::copy_n(answer.begin(), n, out.begin() + SingleTransfer::kSize);
    return static_cast<uint32_t>(SingleTransfer::kSize + n);
}

bool SimulatedFx2::HandleRequest(uint64_t handle, int device, uint32_t code,
                                 std::span<const uint8_t> in, std::span<uint8_t> out,
                                 uint32_t& returned) {
    returned = 0;
    std::lock_guard lock(mutex_);
    if (!Usable(handle, device)) {
        return false;
    }
    const Device& dev = *devices_[static_cast<size_t>(device)];
    const SimBoard& b = dev.board;
    switch (code) {
        case ioctl::kDriverVersion:
            returned = PutReplyValue(out, b.driver_version, 4);
            return true;
        case ioctl::kUsbdiVersion:
            returned = PutReplyValue(out, b.usbdi_version, 4);
            return true;
        case ioctl::kAlternateSetting:
            returned = PutReplyValue(out, b.current_alternate, 1);
            return true;
        case ioctl::kDeviceAddress:
            returned = PutReplyValue(out, b.address, 1);
            return true;
        case ioctl::kSpeed:
            returned = PutReplyValue(out, b.speed, 4);
            return true;
        case ioctl::kDeviceName:
            returned = PutReplyText(out, b.device_name);
            return true;
        case ioctl::kFriendlyName:
            returned = PutReplyText(out, b.friendly_name);
            return true;
        case ioctl::kControlTransfer:
            Log({code, device, 0, {in.begin(), in.begin() + std::min<size_t>(in.size(), 38)}});
            returned = Control(dev, in, out);
            return returned > 0;
        case ioctl::kSetTransferSize:
            if (in.size() < 5) {
                return false;
            }
            Log({code, device, in[0], {in.begin(), in.begin() + 5}});
            return true;
        case ioctl::kAbortPipe: {
            if (in.empty()) {
                return false;
            }
            const uint8_t ep = in[0];
            Log({code, device, ep, {ep}});
            FailReads([&](const Read& r) { return r.handle == handle && r.endpoint == ep; });
            return true;
        }
        default:
            return false;
    }
}

uint32_t SimulatedFx2::HandleBegin(uint64_t handle, int device, uint32_t code,
                                   std::span<const uint8_t> in, std::span<uint8_t> out,
                                   Overlapped& overlapped) {
    if (code == ioctl::kControlTransfer) {
        uint32_t returned = 0;
        const bool ok = HandleRequest(handle, device, code, in, out, returned);
        if (!ok) {
            return kErrorDeviceNotConnected;
        }
        overlapped.Complete(returned, true);
        return kErrorSuccess;
    }
    std::unique_lock lock(mutex_);
    if (!Usable(handle, device)) {
        return kErrorDeviceNotConnected;
    }
    const auto header = ReadSingleTransfer(in);
    if (!header || (code != ioctl::kBufferedTransfer && code != ioctl::kDirectTransfer)) {
        return kErrorGenFailure;
    }
    const SimBoard& b = devices_[static_cast<size_t>(device)]->board;
    const SimEndpoint* ep = nullptr;
    for (const auto& itf : b.interfaces) {
        for (const auto& e : itf.endpoints) {
            if (e.address == header->endpoint && itf.alternate == b.current_alternate) {
                ep = &e;
            }
        }
    }
    if (ep == nullptr) {
        return kErrorGenFailure;
    }
    const bool buffered = code == ioctl::kBufferedTransfer;
    if (buffered && (in.size() < SingleTransfer::kSize + header->data_length ||
                     out.size() < SingleTransfer::kSize + header->data_length)) {
        return kErrorGenFailure;
    }
    if ((ep->address & 0x80) == 0) {
        // OUT: take the bytes at once.
        const auto data = buffered ? in.subspan(SingleTransfer::kSize, header->data_length)
                                   : std::span<const uint8_t>(out);
        Log({code, device, ep->address, {data.begin(), data.end()}});
        overlapped.Complete(static_cast<uint32_t>(buffered ? SingleTransfer::kSize : 0) +
                                static_cast<uint32_t>(data.size()),
                            true);
        return kErrorSuccess;
    }
    Read read;
    read.handle = handle;
    read.device = device;
    read.endpoint = ep->address;
    read.overlapped = &overlapped;
    read.buffered = buffered;
    read.out = buffered ? out.subspan(SingleTransfer::kSize, header->data_length) : out;
    read.want = static_cast<uint32_t>(read.out.size());
    read.begin_tick = clock_.TickCount();
    read.sequence = ++read_sequence_;
    for (const auto& r : reads_) {
        if (r.handle == handle && r.out.data() < read.out.data() + read.out.size() &&
            read.out.data() < r.out.data() + r.out.size()) {
            ++overlapping_reads_;
        }
    }
    Log({code, device, ep->address, {in.begin(), in.begin() + SingleTransfer::kSize}});
    if (faults_.fail_every != 0 && read.sequence % faults_.fail_every == 0) {
        overlapped.Complete(0, false);
        return kErrorIoPending;
    }
    // A device's reads complete in order: behind another one, a new read needs no wake-up of
    // the service thread, which already waits for the read in front.
    const bool first = std::none_of(reads_.begin(), reads_.end(),
                                    [device](const Read& r) { return r.device == device; });
    reads_.push_back(read);
    lock.unlock();
    if (first) {
        wake_.notify_all();
    }
    return kErrorIoPending;
}

uint64_t SimulatedFx2::Budget(Device& dev, uint32_t now) const {
    if (config_.stream.pacing == Pacing::kAsFastAsPossible) {
        return UINT64_MAX;
    }
    if (!dev.pacing_started) {
        dev.pacing_started = true;
        dev.pacing_start = now;
        dev.paced_bytes = 0;
    }
    const auto allowed = static_cast<uint64_t>(static_cast<double>(now - dev.pacing_start) *
                                               dev.source->ByteRate() / 1000.0);
    return allowed > dev.paced_bytes ? allowed - dev.paced_bytes : 0;
}

void SimulatedFx2::Serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const uint32_t now = clock_.TickCount();
        std::vector<bool> blocked(devices_.size(), false);
        uint32_t wait_ms = kIdleWaitMs;  // until a pending read may be ready
        for (auto it = reads_.begin(); it != reads_.end();) {
            Read& r = *it;
            Device& dev = *devices_[static_cast<size_t>(r.device)];
            const uint32_t age = now - r.begin_tick;
            if (blocked[static_cast<size_t>(r.device)] || faults_.no_data ||
                age < faults_.slow_ms) {
                if (!faults_.no_data && age < faults_.slow_ms) {
                    wait_ms = std::min(wait_ms, faults_.slow_ms - age);
                }
                blocked[static_cast<size_t>(r.device)] = true;  // reads complete in order
                ++it;
                continue;
            }
            // A read fills only once it is at the front; one queued behind it gets no data, so
            // its time to go short counts from then, not from its queueing (else with many
            // reads in flight every read would go short at the first chance).
            if (!r.filling) {
                r.filling = true;
                r.fill_tick = now;
            }
            const uint32_t filling_ms = now - r.fill_tick;
            uint64_t n = std::min<uint64_t>(r.want, Budget(dev, now));
            if (faults_.short_reads && r.want > 1) {
                n = std::min<uint64_t>(n, 1 + (r.sequence * 7919) % (r.want - 1));
            }
            const bool full = n == r.want || (faults_.short_reads && n > 0);
            if (!full && !(n > 0 && filling_ms >= kPartialAfterMs)) {
                // Sleep until the pacing allows the whole read, or until it may go short.
                const double missing = static_cast<double>(r.want - n);
                const auto ms =
                    static_cast<uint32_t>(missing * 1000.0 / dev.source->ByteRate()) + 1;
                wait_ms = std::min({wait_ms, ms, n > 0 ? kPartialAfterMs - filling_ms : ms});
                blocked[static_cast<size_t>(r.device)] = true;
                ++it;
                continue;
            }
            const size_t got = dev.source->Take(r.out.first(static_cast<size_t>(n)));
            if (got == 0 && dev.source->Ended()) {
                blocked[static_cast<size_t>(r.device)] = true;  // a single pass has ended
                ++it;
                continue;
            }
            const auto data = r.out.first(got);
            if (config_.stream.digest) {
                stream_crc_ = Crc32Update(stream_crc_, data);
            }
            bytes_streamed_ += got;
            dev.paced_bytes += got;
            ++reads_completed_;
            const uint32_t header = r.buffered ? SingleTransfer::kSize : 0;
            r.overlapped->Complete(header + static_cast<uint32_t>(got), true);
            it = reads_.erase(it);
        }
        // New requests, aborts and fault changes wake the thread early.
        if (reads_.empty()) {
            wake_.wait(lock);
        } else {
            wake_.wait_for(lock, std::chrono::milliseconds(std::max<uint32_t>(wait_ms, 1)));
        }
    }
}

SimulatedTuner MakeSimulatedTuner(SimulatedFx2Config config, const Clock& clock) {
    SimulatedTuner tuner;
    tuner.driver = std::make_unique<SimulatedFx2>(std::move(config), clock);
    tuner.device = std::make_unique<CDTV_EzUSBFX2>(*tuner.driver, clock);
    return tuner;
}

}  // namespace tavrel::sim
