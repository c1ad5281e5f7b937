#include "device/fake_usb_host.h"

#include <algorithm>
#include <cstring>

#include "sim/usb_descriptors.h"
#include "ts/crc32.h"

namespace tavrel::test_support {

class FakeUsbHost::Handle final : public UsbHostHandle {
public:
    Handle(FakeUsbHost& host, size_t board) : host_(host), board_(board) {}
    ~Handle() override {
        std::lock_guard lock(host_.mutex_);
        --host_.open_handles_;
        if (claimed_) {
            // Released: the kernel driver that was detached comes back.
            host_.bound_[board_] = host_.boards_[board_].kernel_driver;
        }
    }

    HostError ClaimInterfaces() override {
        std::lock_guard lock(host_.mutex_);
        if (!host_.present_[board_]) {
            return HostError::kNoDevice;
        }
        host_.bound_[board_] = false;  // detached
        claimed_ = true;
        ++host_.claims_;
        return HostError::kNone;
    }
    std::string StringDescriptor(uint8_t index) override {
        std::lock_guard lock(host_.mutex_);
        const sim::SimBoard& b = host_.boards_[board_].board;
        return index == 1 ? b.manufacturer : index == 2 ? b.product : index == 3 ? b.serial : "";
    }
    HostError Submit(HostTransfer transfer, uint64_t& token) override {
        return host_.Submit(board_, std::move(transfer), token);
    }
    void Cancel(uint64_t token) override { host_.Cancel(token); }

private:
    FakeUsbHost& host_;
    const size_t board_;
    bool claimed_ = false;
};

FakeBoard MakeFakeBoard(sim::SimBoard board, uint8_t port, uint8_t address) {
    FakeBoard b;
    b.device.bus = 1;
    b.device.ports = {port};
    b.device.address = address;
    b.device.vendor_id = board.vendor_id;
    b.device.product_id = board.product_id;
    b.device.manufacturer_index = 1;
    b.device.product_index = 2;
    b.device.speed = board.speed;
    for (const auto& itf : board.interfaces) {
        for (const auto& ep : itf.endpoints) {
            b.device.endpoints.push_back({ep.address, ep.attributes, ep.max_packet, itf.number});
        }
    }
    b.board = std::move(board);
    return b;
}

FakeUsbHost::FakeUsbHost(sim::MultiplexConfig stream, std::vector<FakeBoard> boards)
    : generator_(stream),
      boards_(std::move(boards)),
      present_(boards_.size(), true),
      bound_(boards_.size(), false) {
    for (size_t i = 0; i < boards_.size(); ++i) {
        bound_[i] = boards_[i].kernel_driver;
    }
    worker_ = std::thread([this] { Serve(); });
}

FakeUsbHost::~FakeUsbHost() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

std::vector<HostDevice> FakeUsbHost::Devices() {
    std::lock_guard lock(mutex_);
    std::vector<HostDevice> devices;
    for (size_t i = 0; i < boards_.size(); ++i) {
        if (present_[i]) {
            devices.push_back(boards_[i].device);
        }
    }
    return devices;
}

std::unique_ptr<UsbHostHandle> FakeUsbHost::Open(uint8_t bus, uint8_t address, HostError& error) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < boards_.size(); ++i) {
        const HostDevice& d = boards_[i].device;
        if (present_[i] && d.bus == bus && d.address == address) {
            if (boards_[i].deny_open) {
                error = HostError::kAccess;
                return nullptr;
            }
            error = HostError::kNone;
            ++open_handles_;
            return std::make_unique<Handle>(*this, i);
        }
    }
    error = HostError::kNoDevice;
    return nullptr;
}

bool FakeUsbHost::WatchHotplug(std::function<void(bool, const HostDevice&)> notice) {
    std::lock_guard lock(mutex_);
    notice_ = std::move(notice);
    return true;
}

void FakeUsbHost::SetPresent(size_t board, bool present) {
    std::function<void(bool, const HostDevice&)> notice;
    {
        std::lock_guard lock(mutex_);
        present_.at(board) = present;
        notice = notice_;
    }
    wake_.notify_all();
    if (notice) {
        notice(present, boards_[board].device);
    }
}

void FakeUsbHost::HoldData(bool hold) {
    {
        std::lock_guard lock(mutex_);
        hold_ = hold;
    }
    wake_.notify_all();
}

HostError FakeUsbHost::Submit(size_t board, HostTransfer transfer, uint64_t& token) {
    {
        std::lock_guard lock(mutex_);
        if (!present_[board]) {
            return HostError::kNoDevice;
        }
        // A control's setup packet, an OUT transfer's bytes, nothing of a read.
        const auto& buffer = transfer.buffer;
        const size_t kept = transfer.type == HostTransferType::kControl ? 8
                            : (transfer.endpoint & 0x80) == 0           ? buffer.size()
                                                                        : 0;
        submits_.push_back({transfer.type, transfer.endpoint,
                            std::vector<uint8_t>(buffer.begin(), buffer.begin() + kept),
                            buffer.size()});
        token = next_token_++;
        transfers_.push_back({token, board, std::move(transfer), false});
    }
    wake_.notify_all();
    return HostError::kNone;
}

void FakeUsbHost::Cancel(uint64_t token) {
    {
        std::lock_guard lock(mutex_);
        for (auto& t : transfers_) {
            if (t.token == token) {
                t.cancelled = true;
            }
        }
    }
    wake_.notify_all();
}

size_t FakeUsbHost::TakeStream(std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size() && !stream_ended_) {
        if (chunk_pos_ == chunk_.size()) {
            chunk_pos_ = 0;
            if (!generator_.Next(chunk_)) {
                stream_ended_ = true;
                break;
            }
        }
        const size_t n = std::min(out.size() - done, chunk_.size() - chunk_pos_);
        std::memcpy(out.data() + done, chunk_.data() + chunk_pos_, n);
        chunk_pos_ += n;
        done += n;
    }
    return done;
}

bool FakeUsbHost::Answer(size_t board, Transfer& t, Outcome& outcome) {
    HostTransfer& x = t.transfer;
    const auto end = [&](HostStatus status, size_t actual) {
        outcome = {x.done, status, static_cast<uint32_t>(actual)};
        return true;
    };
    if (!present_[board]) {
        return end(HostStatus::kNoDevice, 0);
    }
    if (t.cancelled) {
        return end(HostStatus::kCancelled, 0);
    }
    if (x.type == HostTransferType::kControl) {
        const uint8_t type = x.buffer[0];
        const uint8_t request = x.buffer[1];
        const uint8_t kind = x.buffer[3];
        const uint8_t index = x.buffer[2];
        const sim::SimBoard& b = boards_[board].board;
        std::vector<uint8_t> answer;
        if (type == 0x80 && request == 6) {
            if (kind == 1) {
                answer = sim::DeviceDescriptor(b);
            } else if (kind == 2 && index == 0) {
                answer = sim::ConfigurationDescriptor(b);
            } else if (kind == 3 && index == 0) {
                answer = {4, 3, 0x09, 0x04};
            } else if (kind == 3 && index >= 1 && index <= 3) {
                const std::string* texts[] = {&b.manufacturer, &b.product, &b.serial};
                answer = sim::Utf16Descriptor(*texts[index - 1]);
            }
        } else if (type == 0x81 && request == 10) {
            answer = {b.current_alternate};
        }
        if (answer.empty()) {
            return end(HostStatus::kStall, 0);
        }
        const size_t n = std::min(answer.size(), x.buffer.size() - 8);
        std::copy_n(answer.begin(), n, x.buffer.begin() + 8);
        return end(HostStatus::kCompleted, n);
    }
    if ((x.endpoint & 0x80) == 0) {
        return end(HostStatus::kCompleted, x.buffer.size());
    }
    const size_t got = hold_ ? 0 : TakeStream(x.buffer);
    if (got == 0) {
        return false;
    }
    crc_ = Crc32Update(crc_, x.buffer.first(got));
    streamed_ += got;
    return end(HostStatus::kCompleted, got);
}

std::vector<FakeUsbHost::Outcome> FakeUsbHost::Step() {
    std::vector<Outcome> outcomes;
    // IN reads of one board complete in the order they were queued: a held read holds the
    // later ones of its board, while cancellations and unplugs end any of them.
    std::vector<bool> blocked(boards_.size(), false);
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        Outcome outcome;
        const bool ends_anyway = it->cancelled || !present_[it->board];
        if ((!blocked[it->board] || ends_anyway) && Answer(it->board, *it, outcome)) {
            outcomes.push_back(std::move(outcome));
            it = transfers_.erase(it);
        } else {
            blocked[it->board] = true;
            ++it;
        }
    }
    return outcomes;
}

void FakeUsbHost::Serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::vector<Outcome> outcomes = Step();
        if (outcomes.empty()) {
            wake_.wait(lock);
            continue;
        }
        lock.unlock();
        for (auto& o : outcomes) {
            o.done(o.status, o.actual);
        }
        lock.lock();
    }
    // Whatever is left ends as cancelled, as a closing library would end it.
    std::vector<Outcome> rest;
    for (auto& t : transfers_) {
        rest.push_back({t.transfer.done, HostStatus::kCancelled, 0});
    }
    transfers_.clear();
    lock.unlock();
    for (auto& o : rest) {
        o.done(o.status, o.actual);
    }
}

}  // namespace tavrel::test_support
